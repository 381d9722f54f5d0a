// A file without a time (one that cannot be opened) is dated at the epoch.
#include "render/internal_date.h"

#include <cstdio>

#include "render/items.h"

namespace {

constexpr char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr int kZoneHours = 9;

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

}  // namespace

platform::SystemTime InternalDateZone(const platform::SystemTime& utc) {
    int year = utc.year;
    int month = utc.month;
    int day = utc.day;
    int hour = utc.hour + kZoneHours;
    if (hour >= 24) {
        hour -= 24;
        if (++day > DaysInMonth(year, month)) {
            day = 1;
            if (++month > 12) {
                month = 1;
                ++year;
            }
        }
    }
    if (month < 1 || month > 12)
        month = 1;
    platform::SystemTime zoned = {};
    zoned.year = static_cast<uint16_t>(year);
    zoned.month = static_cast<uint16_t>(month);
    zoned.day = static_cast<uint16_t>(day);
    zoned.hour = static_cast<uint16_t>(hour);
    zoned.minute = utc.minute;
    zoned.second = utc.second;
    return zoned;
}

void WriteInternalDate(const FetchItem& item, const FetchedMessage& m, Output& out) {
    out.Write(item.name.c_str(), item.name.Length());
    const platform::SystemTime t = InternalDateZone(m.fileTime);
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, " \"%02d-%s-%04d %02d:%02d:%02d +0900\"", t.day,
                  kMonths[t.month - 1], t.year, t.hour, t.minute, t.second);
    out.Write(buffer);
}
