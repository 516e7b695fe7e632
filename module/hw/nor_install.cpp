// Placeholder until the NOR pair model exists.
#include "module/module.h"

namespace sim {

bool install_nor(Module&, std::string* error) {
    if (error) *error = "NOR model not built yet";
    return false;
}

bool create_nor_storage(const std::filesystem::path&, const Config&, std::string* error) {
    if (error) *error = "NOR model not built yet";
    return false;
}

}  // namespace sim
