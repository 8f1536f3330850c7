// The profit page.  Included by main.cpp and by tests and benchmarks.
#pragma once

#include "profit.h"
#include "records.h"

#include <cstdio>
#include <future>
#include <vector>

// The whole of "profit.html" over the unique trades T[0..n), n >= 1.
void produce_profit_page(FILE *fp, const transaction_t *T, int n, const text_ranks_t &ranks);
// The same page from the book of T[0..n).
void produce_profit_page(FILE *fp, const transaction_t *T, int n, const profit_book_t &book);
// Writes "profit.html", then "trades.csv" and "lots.csv", from the unique
// trades, each fill on its own, and their book (or the book built here).
void write_profit(const std::vector<transaction_t> &fills, const profit_book_t &book);
void write_profit(const std::vector<transaction_t> &fills, const text_ranks_t &ranks);
// The book of the fills, built on a thread of its own when the run may use
// more than one, else when it is taken.  It reads the fills and the ranks,
// which must stay unchanged and alive until it is taken; a failure while it
// is built comes out where it is taken.
std::future<profit_book_t> start_profit_book(const std::vector<transaction_t> &fills, const text_ranks_t &ranks);
