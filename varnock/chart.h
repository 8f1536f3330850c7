// The profit page's chart.  Included by the profit page only.
#pragma once

#include "profit.h"

#include <cstdint>
#include <cstdio>

// The chart section: its heading, then an SVG of the running result from the
// start of the first year y1 to end, the day after the month of the last
// trade (last year y2), and a bar per year with closings, or a line saying
// there are no closings.
void write_chart(FILE *fp, const profit_book_t &book, const realised_t &total, int32_t y1, int32_t y2, int64_t end);
