// What the fuzz targets share: one simulated module per process, created
// before the first input in a temporary directory (in memory) and removed at
// exit; a power cycle before every input after the first, which puts the
// module's flash and files back as created and leaves nothing of the input
// before (the program's variables, its heap, handles, windows and register
// windows, the device models); a scripted user who answers every message box
// with its default button and closes every dialog.
#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "module/module.h"
#include "module/observer.h"

namespace fuzz_support {

// Creates and opens the module on the first call; later calls return it.
sim::Module& OpenModuleOnce(const std::string& profile, const std::vector<std::string>& overrides = {});

// Starts an input: after the first, a power cycle and the module as created;
// then a fresh scripted user. Returns the module, opened again.
sim::Module& StartInput();

// The message boxes shown since StartInput, as "caption: text".
std::vector<std::string> MessageBoxes();

// Writes the bytes to a file of that name in the module's temporary
// directory; returns its host path.
std::filesystem::path WriteScratchFile(const std::string& name, const uint8_t* data, size_t size);

// Stops the run with a message when an invariant does not hold: libFuzzer
// keeps the input as a crash.
void Require(bool holds, const char* what);

}  // namespace fuzz_support
