// The name of a parameterised case from its "name" field, as gtest accepts
// it: letters and digits, everything else an underscore.
#pragma once
#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace testing_support {

inline std::string test_name(std::string text) {
    for (char& c : text)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return text;
}

template <class Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
    return test_name(info.param.name ? info.param.name : "unnamed");
}

}  // namespace testing_support
