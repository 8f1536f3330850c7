// Consolidation: de-duplication and its totals, folding of fills into orders
// and of same-day orders, and orders.txt.  Included by main.cpp, by the
// report pages (for the money totals) and by tests.
#pragma once

#include "records.h"

// Money of a run of records, summed in array order: paid for buys, received
// for sales, and all fees.
typedef struct {
    double buy, sell, comm;
} money_totals_t;

money_totals_t sum_money(const transaction_t *T, int n);

// Keeps the first record of every trade number of T[0..nt), which stand
// together (sorted by number); returns the count.
int remove_duplicates(transaction_t *T, int nt);
// Prints the count of the unique trades T[0..n) and their money totals.
void print_totals(const transaction_t *T, int n);
// Folds the fills of every order, which stand together (sorted by order
// number), into one record; returns the count.
int consolidate_orders(transaction_t *T, int n);
// Folds unbroken runs of one security, day and direction (sorted by name and
// time) into one record; returns the count.
int consolidate_days(transaction_t *T, int n);
// "orders.txt": one trade line per final record.
void write_orders(const transaction_t *T, int n);
