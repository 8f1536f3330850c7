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

#include "import.h"
#include "records.h"

#include "../tests/support/import_model.h"

namespace reference = import_model;

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

trade_store_t fuzz_trades;

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
