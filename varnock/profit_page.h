// The profit page.  Included by main.cpp and by tests and benchmarks.
#pragma once

#include "profit.h"
#include "records.h"

#include <cstdio>
#include <vector>

// The whole of "profit.html" over the unique trades T[0..n), n >= 1.
void produce_profit_page(FILE *fp, const transaction_t *T, int n, const text_ranks_t &ranks);
// The same page from the book of T[0..n).
void produce_profit_page(FILE *fp, const transaction_t *T, int n, const profit_book_t &book);
// Writes "profit.html", then "trades.csv" and "lots.csv", from the unique
// trades, each fill on its own.
void write_profit(const std::vector<transaction_t> &fills, const text_ranks_t &ranks);
