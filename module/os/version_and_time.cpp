// GetVersionExW from the profile (os.major, os.minor, os.build) and
// FileTimeToSystemTime, exact in the proleptic Gregorian calendar.
#include <cstring>

#include "module/module.h"
#include "module/os/calendar.h"
#include "module/os/os_errors.h"
#include "platform/winbase.h"

namespace {

constexpr DWORD kPlatformWindowsCe = 3;

}  // namespace

BOOL GetVersionExW(LPOSVERSIONINFOW versionInformation) {
    if (!versionInformation || versionInformation->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    sim::Module* module = sim::Module::current();
    if (!module) {
        SetLastError(sim::os::kErrorNotReady);
        return FALSE;
    }
    const sim::Config& config = module->config();
    versionInformation->dwMajorVersion = config.get_u32("os.major", 5);
    versionInformation->dwMinorVersion = config.get_u32("os.minor", 0);
    versionInformation->dwBuildNumber = config.get_u32("os.build", 0);
    versionInformation->dwPlatformId = kPlatformWindowsCe;
    std::memset(versionInformation->szCSDVersion, 0, sizeof versionInformation->szCSDVersion);
    return TRUE;
}

static_assert(sizeof(OSVERSIONINFOW) == 276, "OSVERSIONINFOW is 276 bytes");

BOOL FileTimeToSystemTime(const FILETIME* fileTime, LPSYSTEMTIME systemTime) {
    using namespace sim::os;
    if (!fileTime || !systemTime) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    uint64_t ticks = (static_cast<uint64_t>(fileTime->dwHighDateTime) << 32) | fileTime->dwLowDateTime;
    if (ticks >= 0x8000000000000000ull) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    uint64_t milliseconds = ticks / 10000u;
    uint64_t days = milliseconds / (kSecondsPerDay * 1000u);
    uint64_t in_day = milliseconds % (kSecondsPerDay * 1000u);
    uint32_t year, month, day;
    civil_from_days(days, &year, &month, &day);
    systemTime->wYear = static_cast<WORD>(year);
    systemTime->wMonth = static_cast<WORD>(month);
    systemTime->wDayOfWeek = static_cast<WORD>(day_of_week(days));
    systemTime->wDay = static_cast<WORD>(day);
    systemTime->wHour = static_cast<WORD>(in_day / 3600000u);
    systemTime->wMinute = static_cast<WORD>(in_day / 60000u % 60u);
    systemTime->wSecond = static_cast<WORD>(in_day / 1000u % 60u);
    systemTime->wMilliseconds = static_cast<WORD>(in_day % 1000u);
    return TRUE;
}
