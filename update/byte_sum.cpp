#include "update/image_file.h"

DWORD ByteSum(const BYTE* bytes, DWORD count) {
    DWORD sum = 0;
    for (DWORD i = 0; i < count; ++i) sum += bytes[i];
    return sum;
}
