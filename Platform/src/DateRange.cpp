#include "Platform/DateRange.hpp"

namespace Platform::DateRange {

bool contains(Date date) {
    using namespace std::chrono;
    constexpr auto first = sys_days{year{firstYear} / January / 1};
    constexpr auto afterLast = sys_days{year{lastYear + 1} / January / 1};
    return date >= first && date < afterLast;
}

} // namespace Platform::DateRange
