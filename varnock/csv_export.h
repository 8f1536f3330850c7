// The spreadsheet exports "trades.csv" and "lots.csv".  Included by main.cpp,
// and by tests and benchmarks of the exports.
#pragma once

#include "profit.h"

#include <cstdio>

// Both files are written for a spreadsheet under a Russian locale, the same
// bytes on every platform: UTF-8 with a byte-order mark, ";" between fields,
// "," before decimals and no grouping, money with two decimals, quantities
// and prices with up to six decimals and no trailing zeros, dates as
// "dd.mm.yyyy hh:mm:ss", CR LF after every line, one heading row, and fields
// holding ";", '"', CR or LF quoted with their quotes doubled.  Names are
// converted from Windows-1251.

// Every trade of T[0..n) in time order (then by trade number), with whether
// it takes part in the book's lots.
void write_trades_csv(FILE *fp, const transaction_t *T, int n, const profit_book_t &book);
// One row per closing piece of the book, in the book's order.
void write_lots_csv(FILE *fp, const profit_book_t &book);
// Writes "trades.csv" and "lots.csv" through the checked output path.
void write_exports(const transaction_t *T, int n, const profit_book_t &book);
