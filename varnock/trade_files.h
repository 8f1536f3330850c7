// Trade files: loading, per-file warnings and the listing of a folder.
// Included by main.cpp and by tests and benchmarks of whole imports.
#pragma once

#include "records.h"

#include <cstdio>

// Whether name is a trade file's name: "sdelki*.xls", any case.
bool is_trade_file(const char *name);
// Imports every trade file of the current directory, in listing order, into
// A, writing imported.txt to fpo1 and garbage.txt to fpo2; returns the number
// of trade rows rejected.
int import_trade_files(trade_store_t *A, FILE *fpo1, FILE *fpo2);
// After the last trade file: how many trade rows were rejected, if any.
void warn_rejected_rows(int rejected);
