// De-duplication with its totals, the folding of fills and of same-day
// orders, and orders.txt.

#include "consolidation.h"

#include "output.h"

#include "keltools.h"

money_totals_t sum_money(const transaction_t *T, int n)
{
    money_totals_t m = {0, 0, 0};
    for (int i = 0; i < n; i++) {
        if (T[i].direction == 1)
            m.buy += T[i].amount;
        else if (T[i].direction == 2)
            m.sell += T[i].amount;
        m.comm += T[i].commission;
    }
    return m;
}

// A total as a whole number: truncated toward zero to 64 bits (saturated at
// the ends of the range; not-a-number counts as 0).
static int64_t whole_part(double v)
{
    if (v != v)
        return 0;
    if (v >= 9223372036854775808.0)
        return INT64_MAX;
    if (v <= -9223372036854775808.0)
        return INT64_MIN;
    return (int64_t)v;
}

// Prints one total line: the label, then the whole number grouped with ","
// every three digits, "-" in front when negative.
static void print_total(const char *label, int64_t v)
{
    uint64_t magnitude = v < 0 ? 0 - (uint64_t)v : (uint64_t)v;
    warning1("%s%s%s\n", label, v < 0 ? "-" : "", insert_commas4((long long)magnitude));
}

// Keeps the first record of every trade number of T[0..nt), which stand
// together (sorted by number); returns the count.
int remove_duplicates(transaction_t *T, int nt)
{
    return uniq(T, (size_t)nt, sizeof(transaction_t), cmp_transaction_no);
}

// Prints the count of the unique trades T[0..n) and their money totals.
void print_totals(const transaction_t *T, int n)
{
    money_totals_t m = sum_money(T, n);
    warning1("%d unique transactions\n", n);
    int64_t spent = whole_part(m.buy);
    print_total("Spent:  ", spent);
    print_total("Gained: ", whole_part(m.sell));
    print_total("Volume: ", whole_part((double)spent + m.sell));
    print_total("Comms:  ", whole_part(m.comm));
}

// The group merge: folds T[1..n-1] into the head T[0] (money and fees summed,
// price = total money / total units).  The other records must name the
// head's security and direction.
static void merge_group(transaction_t *T, int n)
{
    transaction_t *head = T;
    double quantity = head->amount / head->price;
    for (int i = 1; i < n; i++) {
        const transaction_t *t = T + i;
        quantity += t->amount / t->price;
        head->amount += t->amount;
        head->commission += t->commission;
        if (cmp_names(t->stock, head->stock) != 0)
            error1("internal error, stock does not match\n");
        if (t->direction != head->direction)
            error1("internal error, direction does not match\n");
    }
    head->price = head->amount / quantity;
}

// Folds each group of neighbouring records that same_group() joins to its
// head into one record, written from index 0; returns the new count.
template <bool (*same_group)(const transaction_t *head, const transaction_t *t)>
static int fold_groups(transaction_t *T, int n)
{
    int w = 0;
    for (int i = 0; i < n;) {
        int j = i + 1;
        while (j < n && same_group(T + i, T + j))
            j++;
        if (j - i > 1)
            merge_group(T + i, j - i);
        if (w != i)
            T[w] = T[i];
        w++;
        i = j;
    }
    return w;
}

static bool same_order(const transaction_t *head, const transaction_t *t)
{
    return t->order == head->order;
}

static bool same_day_run(const transaction_t *head, const transaction_t *t)
{
    return t->y == head->y && t->mo == head->mo && t->d == head->d &&
           cmp_names(t->stock, head->stock) == 0 && t->direction == head->direction;
}

// Folds the fills of every order, which stand together (sorted by order
// number), into one record; returns the count.
int consolidate_orders(transaction_t *T, int n)
{
    return fold_groups<same_order>(T, n);
}

// Folds unbroken runs of one security, day and direction (sorted by name and
// time) into one record; returns the count.
int consolidate_days(transaction_t *T, int n)
{
    return fold_groups<same_day_run>(T, n);
}

// "orders.txt": one trade line per final record.
void write_orders(const transaction_t *T, int n)
{
    FILE *fp = open_output("orders.txt");
    for (int i = 0; i < n; i++)
        write_trade_line(fp, T + i);
    close_output(fp);
}
