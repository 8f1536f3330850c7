// The trader's journal on the profit page: statistics of the closings and
// the month table.  Included by the profit page only.
#pragma once

#include "journal.h"

#include <cstdio>
#include <vector>

// The closings given are the book's journal, in time order.

// The section "stats": a column per year with closings and one for all years.
void write_stats_section(FILE *fp, const std::vector<journal_closing_t> &closings);
// The section "months": a row per year, a cell per month tinted by its result.
void write_months_section(FILE *fp, const std::vector<journal_closing_t> &closings);
