// The value axis of the profit chart: ticks at round steps.  Included by the
// chart and its tests.
#pragma once

#include <cstdint>
#include <vector>

// Four to eight ticks, evenly spaced by 1, 2, 2.5 or 5 times a power of ten
// (kopecks; the smallest step is one kopeck), the first at or below lo and
// the last at or above hi; lo <= hi.
std::vector<int64_t> axis_ticks(int64_t lo, int64_t hi);
