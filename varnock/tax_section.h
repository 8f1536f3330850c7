// The tax estimate of the profit page.  Included by the profit page only.
#pragma once

#include "profit.h"

#include <cstdio>

// The section "tax": its heading, a row per year with closings over all
// accounts (followed, with more than one account, by each account's result
// of the year), a total row, and a paragraph saying what the estimate
// assumes.
void write_tax_section(FILE *fp, const profit_book_t &book);
