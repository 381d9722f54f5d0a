// The local clock on Windows: the system time in UTC and its conversion to local time under the
// zone's current rules; their difference is the offset.
#include <windows.h>

#include "platform/clock.h"

namespace platform {

void LocalNow(LocalTime* out) {
    SYSTEMTIME utc;
    GetSystemTime(&utc);
    SYSTEMTIME local;
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
        local = utc;
    FILETIME u;
    FILETIME l;
    SystemTimeToFileTime(&utc, &u);
    SystemTimeToFileTime(&local, &l);
    const int64_t uTicks = (static_cast<int64_t>(u.dwHighDateTime) << 32) | u.dwLowDateTime;
    const int64_t lTicks = (static_cast<int64_t>(l.dwHighDateTime) << 32) | l.dwLowDateTime;
    out->year = local.wYear;
    out->month = local.wMonth;
    out->day = local.wDay;
    out->hour = local.wHour;
    out->minute = local.wMinute;
    out->second = local.wSecond;
    out->milliseconds = local.wMilliseconds;
    // 100-nanosecond ticks; the offset is whole minutes.
    out->zoneMinutes = static_cast<int32_t>((lTicks - uTicks) / 600000000);
}

}  // namespace platform
