// The profit page.  Included by main.cpp and by tests and benchmarks.
#pragma once

#include "records.h"

#include <cstdio>
#include <vector>

// The whole of "profit.html" over the unique trades T[0..n), n >= 1.
void produce_profit_page(FILE *fp, const transaction_t *T, int n, const text_ranks_t &ranks);
// Writes "profit.html" from the unique trades, each fill on its own.
void write_profit(const std::vector<transaction_t> &fills, const text_ranks_t &ranks);
