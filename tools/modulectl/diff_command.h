// modulectl diff: what differs between the flash of two modules of one
// profile, by erase block and by section: blocks erased, programmed, or
// erased and programmed again (rewritten), NOR lock bits, NAND blocks
// relocated, bytes changed.
#pragma once
#include <string>

// Prints the differences from a to b (text or JSON); the exit status: 0 the
// same, 1 they differ, 2 they cannot be compared.
int diff_modules(const std::string& a, const std::string& b, bool json);
