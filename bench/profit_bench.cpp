// The cost of "profit.html" within a whole run: runs the analyzer's steps one
// by one in the current directory (a generated trade directory), timing
// each, and prints the page's share of the run.  The steps are those of the
// analyzer's main; console lines go to standard error as in a real run.

#include "platform.h"

#include "consolidation.h"
#include "output.h"
#include "profit_page.h"
#include "records.h"
#include "reports.h"
#include "trade_files.h"

#include "keltools.h"

#include <ctime>
#include <vector>

// CPU seconds of the process since start, which is moved on to now: other
// load on the machine disturbs CPU time less than wall time.
static double seconds_since(double &start)
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    double now = (double)ts.tv_sec + (double)ts.tv_nsec / 1e9, s = now - start;
    start = now;
    return s;
}

int main()
{
    double clock = 0;
    seconds_since(clock);
    xopen_std_fds();
    prepare_heap();
    FILE *fpo1 = open_output("imported.txt");
    FILE *fpo2 = open_output("garbage.txt");
    trade_store_t trades = {};
    allocate_trades(&trades);
    import_trade_files(&trades, fpo1, fpo2);
    close_output(fpo1);
    close_output(fpo2);
    if (trades.nt == 0)
        error1("no transactions were found\n");
    rank_texts(&trades);
    double import_s = seconds_since(clock);
    transaction_t *T = trades.T;
    int n = trades.nt;
    sort_by_number(T, n);
    n = remove_duplicates(T, n);
    print_totals(T, n);
    double dedup_s = seconds_since(clock);
    std::vector<transaction_t> fills(T, T + n);
    double keep_s = seconds_since(clock);
    sort_by_order(T, n);
    n = consolidate_orders(T, n);
    sort_by_stock(T, n, trades.ranks);
    n = consolidate_days(T, n);
    write_orders(T, n);
    write_reports(T, n, trades.ranks);
    double rest_s = seconds_since(clock);
    write_profit(fills, trades.ranks);
    double profit_s = seconds_since(clock);
    double total = import_s + dedup_s + keep_s + rest_s + profit_s;
    printf("%10d fills (CPU seconds)  import %.3f s  dedup %.3f s  keep fills %.3f s  orders+reports %.3f s  "
           "profit.html %.3f s  run %.3f s  page share %.1f%%\n",
           (int)fills.size(), import_s, dedup_s, keep_s, rest_s, profit_s, total,
           100 * (keep_s + profit_s) / total);
    return 0;
}
