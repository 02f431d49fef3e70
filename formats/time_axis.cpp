#include "formats/time_axis.h"

#include <chrono>

namespace formats {

double days_since_1850(int32_t year, int32_t month) {
    using namespace std::chrono;
    if (month == 13) {
        ++year;
        month = 1;
    }
    const sys_days day = std::chrono::year(year) / std::chrono::month(static_cast<unsigned>(month)) / 1;
    const sys_days origin = std::chrono::year(1850) / January / 1;
    return static_cast<double>((day - origin).count());
}

}  // namespace formats
