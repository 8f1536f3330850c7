// Round steps for the chart's value axis.

#include "chart_scale.h"

#include <algorithm>
#include <climits>

namespace {

int64_t floor_to(int64_t v, int64_t step)
{
    int64_t q = v / step;
    return (v % step != 0 && v < 0 ? q - 1 : q) * step;
}

int64_t ceil_to(int64_t v, int64_t step)
{
    int64_t q = v / step;
    return (v % step != 0 && v > 0 ? q + 1 : q) * step;
}

// The steps 1, 2, 2.5 (from 25 on) and 5 times each power of ten, in turn.
int64_t next_step(int64_t step)
{
    int64_t power = 1;
    while (power <= step / 10)
        power *= 10;
    int64_t m = step / power;
    if (m == 1)
        return 2 * power;
    if (m == 2 && step % power == 0 && power >= 10)
        return step + power / 2;  // 20 -> 25
    if (m == 2)
        return 5 * power;         // 2 -> 5, 25 -> 50
    return power <= INT64_MAX / 10 ? 10 * power : INT64_MAX;
}

// How many ticks of step cover lo to hi (wide, so that no span overflows).
__int128 tick_count(int64_t lo, int64_t hi, int64_t step)
{
    return ((__int128)ceil_to(hi, step) - floor_to(lo, step)) / step + 1;
}

}  // namespace

std::vector<int64_t> axis_ticks(int64_t lo, int64_t hi)
{
    // Room for a rounded end beyond each side.
    lo = std::max(lo, INT64_MIN / 2);
    hi = std::min(hi, INT64_MAX / 2);
    int64_t step = 1;
    while (tick_count(lo, hi, step) > 8)
        step = next_step(step);
    int64_t first = floor_to(lo, step), last = ceil_to(hi, step);
    while (tick_count(first, last, step) < 4)
        last += step;
    std::vector<int64_t> ticks;
    for (int64_t t = first; t <= last; t += step)
        ticks.push_back(t);
    return ticks;
}
