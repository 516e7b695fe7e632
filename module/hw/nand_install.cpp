// Placeholder until the NAND controller model exists: NAND modules cannot be
// opened or created yet.
#include "module/module.h"

namespace sim {

bool install_nand(Module&, std::string* error) {
    if (error) *error = "NAND modules are not supported by this build";
    return false;
}

bool create_nand_storage(const std::filesystem::path&, const Config&, std::string* error) {
    if (error) *error = "NAND modules are not supported by this build";
    return false;
}

}  // namespace sim
