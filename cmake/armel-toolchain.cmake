# Cross build for the module's processor: 32-bit XScale, ARMv5TE, little
# endian, with Debian's armel cross compiler. Test programs run under qemu-arm
# with the cross toolchain's sysroot.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv5te)
set(CMAKE_C_COMPILER arm-linux-gnueabi-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabi-g++)
set(CMAKE_C_FLAGS_INIT "-march=armv5te -marm")
# GCC 12 misreads std::vector growth on 32-bit targets at -O2 as out-of-bounds
# copies (-Warray-bounds, -Wstringop-overflow, -Wstringop-overread inside
# stl_algobase.h); the host build keeps these warnings.
set(CMAKE_CXX_FLAGS_INIT "-march=armv5te -marm -Wno-array-bounds -Wno-stringop-overflow -Wno-stringop-overread")
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabi)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /usr/arm-linux-gnueabi)
