// varnock: turns a trading terminal's exported trade tables ("sdelki*.xls",
// HTML in Windows-1251) into clean trade records and HTML profit reports.
//
// The run works in place on one growing array of trade records: import,
// de-duplicate by trade number, fold the fills of each order, fold same-day
// orders of one security and direction, then write "orders.txt" and reports.

#include "platform.h"

#include "command_line.h"
#include "consolidation.h"
#include "output.h"
#include "profit_page.h"
#include "records.h"
#include "reports.h"
#include "trade_files.h"

#include "keltools.h"

#include <future>
#include <vector>

// Reads every trade file of the folder into the store, writing imported.txt
// and garbage.txt on the way; stops the run when no trade was found.
static void import_trades(trade_store_t *store)
{
    FILE *fpo1 = open_output("imported.txt");
    FILE *fpo2 = open_output("garbage.txt");
    allocate_trades(store);
    int rejected = import_trade_files(store, fpo1, fpo2);
    close_output(fpo1);
    close_output(fpo2);
    warn_rejected_rows(rejected);
    if (store->nt == 0)
        error1("no transactions were found\n");
    warning1("%d transactions imported\n", store->nt);
}

// Keeps one record per trade number and prints the totals; returns the count.
static int keep_unique_trades(transaction_t *T, int n)
{
    sort_by_number(T, n);
    n = remove_duplicates(T, n);
    print_totals(T, n);
    return n;
}

// Folds fills into orders and same-day orders into one; returns the count.
static int consolidate_trades(transaction_t *T, int n, const text_ranks_t &ranks)
{
    sort_by_order(T, n);
    n = consolidate_orders(T, n);
    sort_by_stock(T, n, ranks);
    n = consolidate_days(T, n);
    warning1("%d orders\n", n);
    return n;
}

// The console window stays open: a window of the program's own (a double
// click) until a key is pressed, with a word on it; elsewhere one character
// is read from standard input.
static void keep_window_open()
{
    if (!wait_in_own_window())
        getchar();
}

// The profit book in the making.  Static, so that a fatal stop (exit) on
// the way waits for the thread that builds it: no thread outlives the run.
static std::future<profit_book_t> profit_book;

int main(int argc, char **argv)
{
    xopen_std_fds();
    enter_folder(parse_arguments(argc, argv));
    prepare_heap();
    trade_store_t store = {};
    import_trades(&store);
    rank_texts(&store);
    transaction_t *T = store.T;
    int n = keep_unique_trades(T, store.nt);
    std::vector<transaction_t> fills(T, T + n);  // each fill on its own, for profit.html
    profit_book = start_profit_book(fills, store.ranks);
    n = consolidate_trades(T, n, store.ranks);
    write_orders(T, n);
    write_reports(T, n, store.ranks);
    write_profit(fills, profit_book.get());
    warning1("success\n");
    keep_window_open();
    free_trade_store(&store);
    return 0;
}
