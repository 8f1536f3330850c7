// The row parser of trade files.  Included by the trade-file loader, and by
// tests and fuzz targets of the import.
#pragma once

#include "records.h"

#include <cstdint>
#include <cstdio>

// Number conversions of the row parser: exactly what the scan format "%d",
// strtoq1(s, nullptr, 10) and atof() give.  scan_date_time reads the format
// "%d.%d.%d %d:%d:%d" into T's date and time and returns the number of
// values read.
int scan_date_time(const char *s, transaction_t *T);
int64_t to_int64(const char *s);
double to_double(const char *s);

// What the row loop saw beyond the rows it wrote out.
typedef struct {
    int rejected;    // rows of sixteen cells that failed a check (codes -2 and -4)
    bool unclosed;   // the text ended inside a row: a "<tr>" without a later "</tr>"
    bool cut_at_nul; // the text ended at a NUL byte before its length
} row_tally_t;

// Reads the rows of one loaded trade file (len bytes and a NUL); each
// "</tr>" that ends a row is overwritten with a NUL.  An embedded NUL ends
// the text, as does a "<tr>" without a later "</tr>".
row_tally_t import_rows(char *text, size_t len, trade_store_t *A, FILE *fpo1, FILE *fpo2);
