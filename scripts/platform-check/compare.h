// Comparisons for the unit that scripts/platform-check/declarations.awk makes
// of platform/: our declaration on the left, the real one on the right.
#pragma once
#include <stddef.h>

#include <type_traits>

// Wide texts, ours char16_t and the real ones wchar_t: the same characters.
template <class Ours, class Real, size_t OursLength, size_t RealLength>
constexpr bool SameText(const Ours (&ours)[OursLength], const Real (&real)[RealLength]) {
    if (OursLength != RealLength) {
        return false;
    }
    for (size_t i = 0; i < OursLength; ++i) {
        if ((unsigned long)ours[i] != (unsigned long)real[i]) {
            return false;
        }
    }
    return true;
}

// A long is 32 bits on the module and on this target but 64 on the simulated
// module's host: our basic types spell their width.
template <class T>
constexpr bool HostWidthVaries() {
    return std::is_same_v<std::remove_cv_t<T>, long> || std::is_same_v<std::remove_cv_t<T>, unsigned long>;
}

// Basic types that are spelt differently here and on the module (uint32_t
// for unsigned long, char16_t for wchar_t): the same size and signedness,
// and pointers to such, with the same constness, or handles of equal size.
template <class Ours, class Real>
constexpr bool SameShape() {
    if constexpr (std::is_void_v<Ours> || std::is_void_v<Real>) {
        return std::is_void_v<Ours> && std::is_void_v<Real> && std::is_const_v<Ours> == std::is_const_v<Real>;
    } else if constexpr (std::is_pointer_v<Ours> || std::is_pointer_v<Real>) {
        return std::is_pointer_v<Ours> && std::is_pointer_v<Real> &&
               SameShape<std::remove_pointer_t<Ours>, std::remove_pointer_t<Real>>();
    } else if constexpr (std::is_arithmetic_v<Ours> || std::is_arithmetic_v<Real>) {
        return std::is_arithmetic_v<Ours> && std::is_arithmetic_v<Real> && !HostWidthVaries<Ours>() &&
               sizeof(Ours) == sizeof(Real) && std::is_signed_v<Ours> == std::is_signed_v<Real> &&
               std::is_const_v<Ours> == std::is_const_v<Real>;
    } else {
        return sizeof(Ours) == sizeof(Real) && std::is_const_v<Ours> == std::is_const_v<Real>;
    }
}
