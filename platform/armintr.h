// ARM coprocessor access (the compiler intrinsic of the module's toolchain).
// Reading coprocessor 15 is allowed in user mode only on systems below 6.0.
#pragma once
#include "platform/wintypes.h"

unsigned int _MoveFromCoprocessor(unsigned int coprocessor, unsigned int opcode1, unsigned int crn, unsigned int crm,
                                  unsigned int opcode2);
