// Proleptic Gregorian calendar arithmetic on day counts from 1 January 1601,
// the epoch of FILETIME (a Monday).
#pragma once
#include <cstdint>

namespace sim::os {

constexpr uint64_t kFileTimeTicksPerSecond = 10000000u;
constexpr uint64_t kSecondsPerDay = 86400u;
// Seconds from 1601-01-01 to the Unix epoch 1970-01-01.
constexpr uint64_t kUnixEpochSeconds = 11644473600u;

bool is_leap_year(uint32_t year);
// 0 for a month outside 1..12.
uint32_t days_in_month(uint32_t year, uint32_t month);
// Days since 1601-01-01 for a valid date (year >= 1601).
uint64_t days_from_civil(uint32_t year, uint32_t month, uint32_t day);
void civil_from_days(uint64_t days, uint32_t* year, uint32_t* month, uint32_t* day);
// 0 = Sunday ... 6 = Saturday.
uint32_t day_of_week(uint64_t days);

}  // namespace sim::os
