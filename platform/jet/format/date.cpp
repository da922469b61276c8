#include "platform/jet/format/date.h"

#include <stdexcept>

namespace kw::jet {

double JetDays(int year, int month, int day, int hour, int minute, int second) {
  if (year < 1900 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
      minute < 0 || minute > 59 || second < 0 || second > 59)
    throw std::invalid_argument("date out of range");
  // Days from the civil date (H. Hinnant's algorithm), counted from 1970-01-01.
  int y = month <= 2 ? year - 1 : year;
  int era = y / 400;
  int yoe = y - era * 400;
  int mp = (month + 9) % 12;
  int doy = (153 * mp + 2) / 5 + day - 1;
  int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  long days1970 = static_cast<long>(era) * 146097 + doe - 719468;
  double seconds = hour * 3600.0 + minute * 60.0 + second;
  return static_cast<double>(days1970 + 25569) + seconds / 86400.0;
}

}  // namespace kw::jet
