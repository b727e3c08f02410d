// Seconds since 1970 of a local calendar time (tm_isdst left to the time zone rules).
#pragma once

#include <ctime>

namespace qvtest {

inline std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second = 0) {
    std::tm t{};
    t.tm_year = year - 1900, t.tm_mon = month - 1, t.tm_mday = day;
    t.tm_hour = hour, t.tm_min = minute, t.tm_sec = second, t.tm_isdst = -1;
    return std::mktime(&t);
}

}  // namespace qvtest
