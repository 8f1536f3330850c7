// The report pages.  Included by main.cpp, by the profit page (for the page
// head and the words the pages share) and by tests.
#pragma once

#include "records.h"

#include <cstdio>

// Words the report and profit pages share, as cp1251 bytes.
inline constexpr char ru_share[] = "\xC0\xEA\xF6\xE8\xFF";                                          // Акция
inline constexpr char ru_date_time[] = "\xC4\xE0\xF2\xE0 \xE8 \xE2\xF0\xE5\xEC\xFF";                // Дата и время
inline constexpr char ru_quantity[] = "\xCA\xEE\xEB\xE8\xF7\xE5\xF1\xF2\xE2\xEE";                  // Количество
inline constexpr char ru_generated[] = "\xCE\xF2\xF7\xE5\xF2 \xF1\xF4\xEE\xF0\xEC\xE8\xF0\xEE\xE2\xE0\xED";   // Отчет сформирован

// One stock's section: heading, a table row per trade, and the balance line
// of shares, money (fees deducted), turnover and commission.  T[0..nt) share
// one stock name and stand in the order to be listed.
void produce_stock_report(FILE *fp, transaction_t *T, int nt);
// The head of every page, through "<body>\n".
void write_report_header(FILE *fp);
// The end of every page: the time of writing and the program's name; with
// xml its empty elements are closed, as the profit page has them.
void write_report_footer(FILE *fp, bool xml);
// One whole page over T[0..nt), nt >= 1, whose records of one stock stand
// together: header, years covered, a section per stock run, statistics and
// a footer with the time of writing.
void produce_report(FILE *fp, transaction_t *T, int nt);
// Writes "report-<year>.html" for every year present, in ascending order,
// then "report.html" over all years; leaves T in stock-and-time order.
void write_reports(transaction_t *T, int nt, const text_ranks_t &ranks);
