// The local clock on POSIX: the C library's local time, whose tm_gmtoff is the zone's offset.
#include <sys/time.h>
#include <time.h>

#include "platform/clock.h"

namespace platform {

void LocalNow(LocalTime* out) {
    struct timeval now;
    gettimeofday(&now, nullptr);
    struct tm local;
    const time_t seconds = now.tv_sec;
    localtime_r(&seconds, &local);
    out->year = static_cast<uint16_t>(local.tm_year + 1900);
    out->month = static_cast<uint16_t>(local.tm_mon + 1);
    out->day = static_cast<uint16_t>(local.tm_mday);
    out->hour = static_cast<uint16_t>(local.tm_hour);
    out->minute = static_cast<uint16_t>(local.tm_min);
    out->second = static_cast<uint16_t>(local.tm_sec);
    out->milliseconds = static_cast<uint16_t>(now.tv_usec / 1000);
    out->zoneMinutes = static_cast<int32_t>(local.tm_gmtoff / 60);
}

}  // namespace platform
