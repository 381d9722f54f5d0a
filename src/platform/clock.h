// The wall clock as a person reads it: the local date and time, and the zone's offset from UTC,
// for the lines of the server's log.
#ifndef ORV_PLATFORM_CLOCK_H_
#define ORV_PLATFORM_CLOCK_H_

#include <cstdint>

namespace platform {

struct LocalTime {
    uint16_t year;
    uint16_t month;  // 1-12
    uint16_t day;    // 1-31
    uint16_t hour;
    uint16_t minute;
    uint16_t second;
    uint16_t milliseconds;
    int32_t zoneMinutes;  // local time minus UTC, in minutes (+540 for Japan)
};

// The local time now and the zone's offset at this moment (daylight saving time included).
// Any thread.
void LocalNow(LocalTime* out);

}  // namespace platform

#endif  // ORV_PLATFORM_CLOCK_H_
