// Status polling shared by the NOR operations.
#include "flash/nor/nor_commands.h"

BOOL NorWaitReady(DWORD offset, DWORD startTick, DWORD timeoutMs, DWORD sleepMs, DWORD* status) {
    for (;;) {
        DWORD value = NorReadBus(offset);
        if ((value & kNorReady) == kNorReady) {
            *status = value;
            return TRUE;
        }
        // Unsigned difference: survives the tick counter's wrap.
        if (GetTickCount() - startTick >= timeoutMs) {
            return FALSE;
        }
        if (sleepMs != 0) {
            Sleep(sleepMs);
        }
    }
}

void NorFailWithStatus(DWORD offset) {
    NorCommand(offset, kNorClearStatus);
    NorCommand(offset, kNorReadArray);
}
