// The trader's journal on the profit page: statistics of the closings and
// the month table.  Included by the profit page and its benchmark.
#pragma once

#include "journal.h"
#include "profit.h"

#include <cstdio>
#include <vector>

// The closings of the book over all accounts, in time order (date and time,
// then trade number): each trade that closed at least one lot, with the sum
// of its pieces and their days held (closing day - opening day) weighted by
// quantity.
std::vector<journal_closing_t> journal_closings(const profit_book_t &book);
// The section "stats": a column per year with closings and one for all years.
void write_stats_section(FILE *fp, const std::vector<journal_closing_t> &closings);
// The section "months": a row per year, a cell per month tinted by its result.
void write_months_section(FILE *fp, const std::vector<journal_closing_t> &closings);
