#pragma once
// A date as Jet keeps it (date/time columns, the definition page's creation
// date): the days since 1899-12-30 00:00 as a double, the fraction the time
// of day.
namespace kw::jet {

// A civil date and time (proleptic Gregorian, no time zone, years 1900 to
// 9999) as a Jet date; out of range is an error (std::invalid_argument).
double JetDays(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

}  // namespace kw::jet
