#include "module/os/calendar.h"

namespace sim::os {

// Whole 400-year cycles repeat exactly: 146097 days each.
static constexpr uint64_t kDaysPer400Years = 146097;

bool is_leap_year(uint32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

uint32_t days_in_month(uint32_t year, uint32_t month) {
    static const uint8_t lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    if (month == 2 && is_leap_year(year)) return 29;
    return lengths[month - 1];
}

// Counted in a calendar whose year starts on 1 March, so the leap day falls
// at the end of the year; 1601 is the first year of a 400-year cycle.
uint64_t days_from_civil(uint32_t year, uint32_t month, uint32_t day) {
    uint64_t y = year - (month <= 2 ? 1 : 0);
    uint64_t era_year = y - 1600;  // 1600-03-01 is day -306 of the count
    uint64_t era = era_year / 400;
    uint64_t year_of_era = era_year % 400;
    uint64_t month_from_march = month > 2 ? month - 3 : month + 9;
    uint64_t day_of_year = (153 * month_from_march + 2) / 5 + day - 1;
    uint64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * kDaysPer400Years + day_of_era - 306;
}

void civil_from_days(uint64_t days, uint32_t* year, uint32_t* month, uint32_t* day) {
    uint64_t z = days + 306;  // days since 1600-03-01
    uint64_t era = z / kDaysPer400Years;
    uint64_t day_of_era = z % kDaysPer400Years;
    uint64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    uint64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    uint64_t month_from_march = (5 * day_of_year + 2) / 153;
    *day = static_cast<uint32_t>(day_of_year - (153 * month_from_march + 2) / 5 + 1);
    *month = static_cast<uint32_t>(month_from_march < 10 ? month_from_march + 3 : month_from_march - 9);
    *year = static_cast<uint32_t>(1600 + era * 400 + year_of_era + (*month <= 2 ? 1 : 0));
}

uint32_t day_of_week(uint64_t days) { return static_cast<uint32_t>((days + 1) % 7); }

}  // namespace sim::os
