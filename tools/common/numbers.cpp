#include "tools/common/numbers.h"

namespace cli {

bool parse_number(std::string_view text, uint64_t* value, uint64_t max) {
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.front() == '_' || text.back() == '_') return false;
    uint64_t v = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        unsigned digit;
        if (c == '_' && text[i - 1] != '_') continue;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return false;
        if (digit >= base || digit > max || v > (max - digit) / base) return false;
        v = v * base + digit;
    }
    *value = v;
    return true;
}

}  // namespace cli
