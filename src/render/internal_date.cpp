// INTERNALDATE: the message file's last-write time. The platform gives it in UTC; it is moved
// to the fixed zone +0900 that the date is labelled with, so the text names the right instant.
// A file without a time (one that cannot be opened) is dated at the epoch.
#include <cstdio>

#include "base/file.h"
#include "platform/files.h"
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

// The UTC time of the message file; 1 January 1970 00:00:00 when there is none.
platform::SystemTime FileTime(const ItemContext& c) {
    platform::SystemTime t = {1970, 1, 4, 1, 0, 0, 0, 0};
    const Text path = MessageFilePath(c.host, c.entry, c.mailRoot, c.folderPath);
    if (path.IsEmpty())
        return t;
    File file;
    platform::SystemTime found = {};
    if (file.Open(path.c_str(), platform::kAccessRead, platform::kOpenAlways) &&
        file.LastWriteTime(&found) && found.month >= 1 && found.month <= 12 && found.day >= 1)
        t = found;
    return t;
}

}  // namespace

void WriteInternalDate(ItemContext& c, const Text& name) {
    WriteSeparator(c);
    c.out.Write(name.c_str(), name.Length());
    const platform::SystemTime utc = FileTime(c);
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
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, " \"%02d-%s-%04d %02d:%02d:%02d +0900\"", day,
                  kMonths[month - 1], year, hour, utc.minute, utc.second);
    c.out.Write(buffer);
}
