// Fuzz target for the whole run behind the import: the input is one trade
// file; its records go through de-duplication, both consolidations,
// "orders.txt", the report pages and the profit page, exactly as the program
// runs them (in the current directory, which the scripts make a scratch
// directory).  Money and share texts of extreme values (huge, negative,
// infinite, not-a-number, zero prices) reach the report writers this way.
//
// Fills of one order that name two securities or two directions stop the run
// on purpose ("internal error, ..."); such inputs are left out.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include <unistd.h>

#include "consolidation.h"
#include "import.h"
#include "profit_page.h"
#include "records.h"
#include "reports.h"

namespace {

trade_store_t pipeline_trades;

bool orders_consistent(const transaction_t *T, int n)
{
    std::map<int64_t, const transaction_t *> first;
    for (int i = 0; i < n; i++) {
        auto [it, inserted] = first.emplace(T[i].order, &T[i]);
        if (!inserted &&
            (cmp_names(it->second->stock, T[i].stock) != 0 || it->second->direction != T[i].direction))
            return false;
    }
    return true;
}

FILE *null_stream()
{
    static FILE *fp = fopen("/dev/null", "w");
    return fp;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    if (pipeline_trades.T == nullptr)
        allocate_trades(&pipeline_trades);
    pipeline_trades.nt = 0;

    std::vector<char> text(data, data + size);
    text.push_back('\0');
    text.push_back('\0');
    import_rows(text.data(), size, &pipeline_trades, null_stream(), null_stream());
    transaction_t *T = pipeline_trades.T;
    int imported = pipeline_trades.nt;
    if (imported == 0 || !orders_consistent(T, imported))
        return 0;
    rank_texts(&pipeline_trades);
    const text_ranks_t &ranks = pipeline_trades.ranks;

    int n = imported;
    sort_by_number(T, n);
    n = remove_duplicates(T, n);
    print_totals(T, n);
    std::vector<transaction_t> fills(T, T + n);
    sort_by_order(T, n);
    n = consolidate_orders(T, n);
    sort_by_stock(T, n, ranks);
    n = consolidate_days(T, n);
    if (n < 1 || n > imported)
        abort();
    write_orders(T, n);
    write_reports(T, n, ranks);
    write_profit(fills, ranks);

    std::set<int> years;
    for (int i = 0; i < n; i++)
        years.insert(T[i].y);
    for (int y : years) {
        char name[32];
        snprintf(name, sizeof name, "report-%d.html", y);
        if (unlink(name) != 0)
            abort();  // every year of the records has its page
    }
    unlink("report.html");
    unlink("orders.txt");
    if (unlink("profit.html") != 0)
        abort();  // every run writes the profit page
    return 0;
}
