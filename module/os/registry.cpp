// The registry under HKEY_LOCAL_MACHINE, read from the profile: the key
// registry.<key path>.<value name> holds one value (integers are REG_DWORD,
// or REG_QWORD past 32 bits; booleans REG_DWORD 0/1; strings REG_SZ). Key
// paths and value names match case-insensitively, as in the WinCE registry.
// A key exists when some value lies in it or below it. RegFlushKey writes
// the whole registry as text to DIR/registry.saved, as the running system
// saves its registry to flash.
#include <algorithm>
#include <cstdio>

#include "module/hw/folder_file.h"
#include "module/module.h"
#include "module/observer.h"
#include "module/os/handle_table.h"
#include "module/os/os_errors.h"
#include "module/os/wince_path.h"
#include "platform/winbase.h"
#include "platform/winreg.h"

namespace sim::os {
namespace {

constexpr DWORD kRegQword = 11;
const std::string kRegistryPrefix = "registry.";

struct KeyObject : KernelObject {
    explicit KeyObject(std::string p) : KernelObject(ObjectKind::RegistryKey), path(std::move(p)) {}
    std::string path;  // below HKEY_LOCAL_MACHINE, without outer backslashes
};

struct RegistryValue {
    std::string key_path;
    std::string name;
    std::string profile_key;
};

// Every value of the profile's registry, in key order.
std::vector<RegistryValue> registry_values(const Config& config) {
    std::vector<RegistryValue> out;
    for (const std::string& key : config.keys_with_prefix("registry")) {
        std::string rest = key.substr(kRegistryPrefix.size());
        size_t dot = rest.rfind('.');
        // Values need a key: registry.<name> keys are the registry's own settings.
        if (dot == std::string::npos || dot == 0) continue;
        out.push_back(RegistryValue{rest.substr(0, dot), rest.substr(dot + 1), key});
    }
    return out;
}

std::string trim_backslashes(const std::string& path) {
    size_t begin = path.find_first_not_of('\\');
    if (begin == std::string::npos) return "";
    size_t end = path.find_last_not_of('\\');
    return path.substr(begin, end - begin + 1);
}

bool key_exists(const Config& config, const std::string& path) {
    if (path.empty()) return true;
    for (const RegistryValue& v : registry_values(config)) {
        if (names_equal_ignoring_case(v.key_path, path)) return true;
        if (v.key_path.size() > path.size() && v.key_path[path.size()] == '\\' &&
            names_equal_ignoring_case(v.key_path.substr(0, path.size()), path))
            return true;
    }
    return false;
}

// The value's type and bytes as RegQueryValueExW returns them.
void encode_value(const Config& config, const std::string& profile_key, DWORD* type, std::vector<BYTE>* data) {
    data->clear();
    if (config.is_string(profile_key)) {
        std::u16string text = utf16(config.get_string(profile_key, ""));
        *type = REG_SZ;
        for (char16_t c : text) {
            data->push_back(static_cast<BYTE>(c));
            data->push_back(static_cast<BYTE>(c >> 8));
        }
        data->push_back(0);
        data->push_back(0);
        return;
    }
    uint64_t number =
        config.is_bool(profile_key) ? config.get_bool(profile_key, false) : config.get_u64(profile_key, 0);
    *type = number > 0xFFFFFFFFu ? kRegQword : REG_DWORD;
    size_t size = *type == REG_DWORD ? 4 : 8;
    for (size_t i = 0; i < size; ++i) data->push_back(static_cast<BYTE>(number >> (8 * i)));
}

std::string saved_text(const Config& config) {
    std::string out = "REGEDIT4\n";
    std::string current_key;
    bool first = true;
    for (const RegistryValue& v : registry_values(config)) {
        if (first || v.key_path != current_key) {
            out += "\n[HKEY_LOCAL_MACHINE\\" + v.key_path + "]\n";
            current_key = v.key_path;
            first = false;
        }
        DWORD type;
        std::vector<BYTE> data;
        encode_value(config, v.profile_key, &type, &data);
        char line[64];
        if (type == REG_SZ) {
            out += "\"" + v.name + "\"=\"" + config.get_string(v.profile_key, "") + "\"\n";
        } else if (type == REG_DWORD) {
            std::snprintf(line, sizeof line, "dword:%08x",
                          data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24);
            out += "\"" + v.name + "\"=" + line + "\n";
        } else {
            out += "\"" + v.name + "\"=hex(b):";
            for (size_t i = 0; i < data.size(); ++i) {
                std::snprintf(line, sizeof line, "%s%02x", i ? "," : "", data[i]);
                out += line;
            }
            out += "\n";
        }
    }
    return out;
}

// Writes the whole registry to DIR/registry.saved, replacing the old copy
// only once the new one is complete.
LONG save_registry(Module& module) {
    if (module.config().get_bool("registry.flush_fails", false)) return kErrorWriteFault;
    return replace_folder_file(module.dir(), "registry.saved", saved_text(module.config()), nullptr) ? ERROR_SUCCESS
                                                                                                     : kErrorWriteFault;
}

// The key path a handle stands for; false for an unknown handle or root.
bool key_path_of(HKEY key, std::string* path) {
    if (key == HKEY_LOCAL_MACHINE) {
        path->clear();
        return true;
    }
    auto object = find_handle_of<KeyObject>(reinterpret_cast<HANDLE>(key), ObjectKind::RegistryKey);
    if (!object) return false;
    *path = object->path;
    return true;
}

}  // namespace
}  // namespace sim::os

using namespace sim::os;

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM, PHKEY result) {
    if (!result || options != 0) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    sim::Module* module = sim::Module::current();
    if (!module) return kErrorNotReady;
    std::string parent;
    if (!key_path_of(key, &parent)) {
        // The other roots exist but hold nothing on this module.
        bool other_root = key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_USERS;
        return other_root ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_HANDLE;
    }
    std::string sub = subKey ? trim_backslashes(sim::utf8(subKey)) : "";
    std::string path = parent.empty() ? sub : sub.empty() ? parent : parent + "\\" + sub;
    if (!key_exists(module->config(), path)) return ERROR_FILE_NOT_FOUND;
    HANDLE handle = add_handle(std::make_shared<KeyObject>(path));
    if (!handle) return ERROR_NOT_ENOUGH_MEMORY;
    *result = reinterpret_cast<HKEY>(handle);
    return ERROR_SUCCESS;
}

LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    if (reserved || (data && !dataSize)) return ERROR_INVALID_PARAMETER;
    sim::Module* module = sim::Module::current();
    if (!module) return kErrorNotReady;
    std::string path;
    if (!key_path_of(key, &path)) return ERROR_INVALID_HANDLE;
    std::string name = valueName ? sim::utf8(valueName) : "";
    for (const RegistryValue& v : registry_values(module->config())) {
        if (!names_equal_ignoring_case(v.key_path, path) || !names_equal_ignoring_case(v.name, name)) continue;
        DWORD value_type;
        std::vector<BYTE> bytes;
        encode_value(module->config(), v.profile_key, &value_type, &bytes);
        if (type) *type = value_type;
        DWORD needed = static_cast<DWORD>(bytes.size());
        if (!dataSize) return ERROR_SUCCESS;
        // No buffer asks for the size; a small one gets the size and nothing else.
        if (data && *dataSize < needed) {
            *dataSize = needed;
            return ERROR_MORE_DATA;
        }
        if (data) std::copy(bytes.begin(), bytes.end(), data);
        *dataSize = needed;
        return ERROR_SUCCESS;
    }
    return ERROR_FILE_NOT_FOUND;
}

LONG RegCloseKey(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE || key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_USERS)
        return ERROR_SUCCESS;
    auto object = find_handle_of<KeyObject>(reinterpret_cast<HANDLE>(key), ObjectKind::RegistryKey);
    if (!object) return ERROR_INVALID_HANDLE;
    remove_handle(reinterpret_cast<HANDLE>(key));
    return ERROR_SUCCESS;
}

LONG RegFlushKey(HKEY key) {
    sim::Module* module = sim::Module::current();
    if (!module) return kErrorNotReady;
    std::string path;
    if (!key_path_of(key, &path)) return ERROR_INVALID_HANDLE;
    LONG result = save_registry(*module);
    module->log_event(result == ERROR_SUCCESS ? "registry flushed" : "registry flush failed");
    if (sim::observer().registry_result) sim::observer().registry_result(result == ERROR_SUCCESS);
    return result;
}
