// Money and share quantities as text.  Included by the report and profit pages
// and their tests.
#pragma once

#include <cstdint>

// Money as text: "1,234.50", "-1,234.50"; with clr the text is wrapped in a
// green font tag, or a red one when n < 0.  The text lives in the next of 100
// static buffers, so it stays valid through the next 99 calls.
char *stf(double n, int clr);
// Money in kopecks as the pages print it: "1,234.50", "-1,234.50", in the
// next of stf's buffers.
char *stk(int64_t kopecks);
// A number of shares as a whole number, half to even, without grouping;
// magnitudes below 0.01 give "0".  The text is overwritten by the next call.
char *stn(double n);
