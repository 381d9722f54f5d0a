// INTERNALDATE: the message file's last-write time, which the platform gives in UTC, moved to
// the fixed zone +0900 that the date is labelled with, so the text names the right instant.
// FETCH writes it and SEARCH compares its day, from the same function.
#ifndef ORV_RENDER_INTERNAL_DATE_H_
#define ORV_RENDER_INTERNAL_DATE_H_

#include <cstdint>

#include "platform/files.h"

// The UTC time utc in the zone +0900 (day, month and year roll over; dayOfWeek and
// milliseconds are not kept).
platform::SystemTime InternalDateZone(const platform::SystemTime& utc);

// The day of a zoned time as yyyymmdd, the form SEARCH compares dates in.
inline int32_t DayNumber(const platform::SystemTime& t) {
    return static_cast<int32_t>(t.year) * 10000 + t.month * 100 + t.day;
}

#endif  // ORV_RENDER_INTERNAL_DATE_H_
