// Fuzz target for the trade-table import: the whole input is one loaded trade
// file, read by the analyzer's own row loop into its trade array, "imported.txt"
// and "garbage.txt" (here memory streams).
//
// A plain, slow reading of the row rules runs beside it: every row is cut with
// strstr, copied, split into cells, stripped of tags and spaces and read with
// sscanf, strtoq1 and atof, and the lines are written with fprintf and the
// documented formats.  Both must give the same records (every field, bit for
// bit), the same bytes in both outputs, and the same loaded text afterwards.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#define main varnock_main
#include "../misc/varnock.cpp"
#undef main

namespace reference {

struct record {
    int d = 0, mo = 0, y = 0, h = 0, mi = 0, s = 0;
    long long no = 0, order = 0;
    std::string ticker, stock;
    int direction = 0;
    double price = 0, amount = 0, commission = 0;
};

const char buy[] = "\xca\xf3\xef\xeb\xff";           // the buy word, cp1251
const char sale[] = "\xcf\xf0\xee\xe4\xe0\xe6\xe0";  // the sale word, cp1251

void remove_spaces(char *s)
{
    char *o = s;
    for (; *s; s++)
        if (*s != ' ')
            *o++ = *s;
    *o = 0;
}

// The row parser, step by step: 0 or the reject code.
int parse_row(const char *row, record *T)
{
    std::string copy(row);
    char *p = copy.data();
    std::vector<char *> w;
    for (;;) {
        char *td = strstr(p, "<td");
        if (!td)
            break;
        char *gt = strchr(td, '>');
        if (!gt)
            break;
        char *close = strstr(gt, "</td>");
        if (!close)
            break;
        *close = 0;
        w.push_back(gt + 1);
        if (w.size() == 64)
            return -1;
        p = close + 1;
    }
    if (w.size() != 16)
        return -1;
    for (char *cell : w) {
        for (;;) {
            char *lt = strchr(cell, '<');
            if (!lt)
                break;
            char *gt = strchr(lt, '>');
            if (!gt)
                return -1;
            memmove(lt, gt + 1, strlen(gt + 1) + 1);
        }
    }
    for (int i = 7; i < 16; i++)
        remove_spaces(w[i]);
    if (sscanf(w[0], "%d.%d.%d %d:%d:%d", &T->d, &T->mo, &T->y, &T->h, &T->mi, &T->s) < 6)
        return -2;
    T->no = strtoq1(w[1], nullptr, 10);
    T->order = strtoq1(w[2], nullptr, 10);
    T->ticker = w[3];
    T->stock = w[4];
    if (strcmp(w[6], buy) == 0)
        T->direction = 1;
    else if (strcmp(w[6], sale) == 0)
        T->direction = 2;
    else
        return -4;
    T->price = atof(w[8]);
    T->amount = atof(w[9]);
    T->commission = 0;
    for (int i = 10; i <= 14; i++)
        T->commission += atof(w[i]);
    return 0;
}

template <typename... Args>
std::string format(const char *fmt, Args... args)
{
    int n = snprintf(nullptr, 0, fmt, args...);
    std::string out((size_t)n + 1, '\0');
    snprintf(out.data(), out.size(), fmt, args...);
    out.resize((size_t)n);
    return out;
}

std::string trade_line(const record &T)
{
    std::string order = format("%llu", (unsigned long long)T.order);
    return format("%02d.%02d.%04d %02d:%02d:%02d %15s %12s %1d %10.5f %15.3f %5.3f\n", T.d, T.mo,
                  T.y, T.h, T.mi, T.s, order.c_str(), T.stock.c_str(), T.direction, T.price,
                  T.amount, T.commission);
}

// The row loop over a loaded text; text is changed as the import changes it.
void import(char *text, std::vector<record> *records, std::string *imported, std::string *garbage)
{
    char *p = text;
    for (;;) {
        char *tr = strstr(p, "<tr>");
        if (!tr)
            break;
        char *close = strstr(tr, "</tr>");
        if (!close)
            break;
        *close = 0;
        const char *row = tr + 4;
        record T;
        int r = parse_row(row, &T);
        if (r == 0) {
            *imported += trade_line(T);
            records->push_back(T);
        } else {
            *garbage += format("%d| %s\n", r, row);
        }
        p = close + 1;
    }
}

}  // namespace reference

namespace {

bool same_double(double a, double b)
{
    return memcmp(&a, &b, sizeof a) == 0;
}

bool same_record(const transaction_t &t, const reference::record &r)
{
    return t.d == r.d && t.mo == r.mo && t.y == r.y && t.h == r.h && t.mi == r.mi && t.s == r.s &&
           t.no == r.no && t.order == r.order && r.ticker == t.ticker && r.stock == t.stock &&
           t.direction == r.direction && same_double(t.price, r.price) &&
           same_double(t.amount, r.amount) && same_double(t.commission, r.commission);
}

// The text as load_file hands it over: the bytes, a NUL and one spare byte.
std::vector<char> loaded(const uint8_t *data, size_t size)
{
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    text.push_back('\0');
    return text;
}

trade_array_t fuzz_trades;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;  // an empty file is skipped before its rows are read
    if (fuzz_trades.T == nullptr)
        allocate_trades(&fuzz_trades);
    fuzz_trades.nt = 0;

    std::vector<char> text = loaded(data, size);
    char *out1 = nullptr, *out2 = nullptr;
    size_t len1 = 0, len2 = 0;
    FILE *fpo1 = open_memstream(&out1, &len1);
    FILE *fpo2 = open_memstream(&out2, &len2);
    import_rows(text.data(), size, &fuzz_trades, fpo1, fpo2);
    fclose(fpo1);
    fclose(fpo2);
    std::string imported(out1, len1), garbage(out2, len2);
    free(out1);
    free(out2);

    std::vector<char> ref_text = loaded(data, size);
    std::vector<reference::record> ref_records;
    std::string ref_imported, ref_garbage;
    reference::import(ref_text.data(), &ref_records, &ref_imported, &ref_garbage);

    if (imported != ref_imported) {
        fprintf(stderr, "imported.txt differs:\n--- program\n%s--- reference\n%s", imported.c_str(),
                ref_imported.c_str());
        abort();
    }
    if (garbage != ref_garbage) {
        fprintf(stderr, "garbage.txt differs:\n--- program\n%s--- reference\n%s", garbage.c_str(),
                ref_garbage.c_str());
        abort();
    }
    if ((size_t)fuzz_trades.nt != ref_records.size())
        abort();
    for (int i = 0; i < fuzz_trades.nt; i++)
        if (!same_record(fuzz_trades.T[i], ref_records[(size_t)i])) {
            fprintf(stderr, "record %d differs\n", i);
            abort();
        }
    if (text != ref_text) {
        fprintf(stderr, "the loaded text was changed differently\n");
        abort();
    }
    return 0;
}
