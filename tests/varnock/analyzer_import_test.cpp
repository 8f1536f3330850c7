// The trade table import: the row parser, its number conversions, the trade
// line and the row loop over a loaded file.

#include "import.h"
#include "output.h"
#include "records.h"
#include "trade_files.h"

#include <gtest/gtest.h>

#include "test_support.h"
#include "import_model.h"

#include <cfloat>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

const std::string buy = "\xca\xf3\xef\xeb\xff";              // "Купля"
const std::string sale = "\xcf\xf0\xee\xe4\xe0\xe6\xe0";     // "Продажа"

// The cells of a row, each wrapped in "<td>...</td>".
std::string cells(const std::vector<std::string> &texts)
{
    std::string row;
    for (const auto &t : texts)
        row += "<td>" + t + "</td>";
    return row;
}

std::vector<std::string> good_cells()
{
    return {"05.03.2013 10:07:31", "101", "5001", "GAZP", "Gazprom", "MICEX", buy, "T0",
            "100.5", "1005", "0.5", "", "0.25", "x", "1", "acc"};
}

// The store parse() reads into: a record's names stay valid until the next parse.
trade_store_t parsed = {};

// Reads one row, the text between "<tr>" and "</tr>", as the row loop does:
// 0 with the record in *t, or the reject code that heads its garbage line.
int parse(const std::string &row, transaction_t *t)
{
    std::string text = "<tr>" + row + "</tr>";
    std::vector<char> buffer(text.begin(), text.end());
    buffer.resize(buffer.size() + 2, '\0');
    trade_store_t &A = parsed;
    free_trade_store(&A);
    allocate_trades(&A);
    char *garbage = nullptr;
    size_t garbage_len = 0;
#ifdef _WIN32  // no memory streams: the garbage goes through a binary temporary file
    FILE *imported = fopen("NUL", "w"), *rejected = tmpfile();
#else
    FILE *imported = fopen("/dev/null", "w"), *rejected = open_memstream(&garbage, &garbage_len);
#endif
    import_rows(buffer.data(), text.size(), &A, imported, rejected);
    fclose(imported);
#ifdef _WIN32
    std::string written;
    rewind(rejected);
    for (int ch; (ch = fgetc(rejected)) != EOF;)
        written += (char)ch;
    garbage = strdup(written.c_str());
    garbage_len = written.size();
#endif
    fclose(rejected);
    EXPECT_EQ(A.nt + (garbage_len > 0), 1);
    int code = A.nt == 1 ? 0 : atoi(garbage);
    if (A.nt == 1)
        *t = A.T[0];
    free(garbage);
    return code;
}

TEST(RowParser, AcceptsATradeRowAndFillsEveryField)
{
    transaction_t t{};
    auto c = good_cells();
    c[0] = "5.3.2013 10:7:31";
    c[1] = "1 234";                 // cell 1 keeps its blanks: the number ends there
    c[2] = " -42";
    c[4] = "\xc3\xe0\xe7\xef\xf0\xee\xec";  // a Cyrillic name is copied byte for byte
    c[6] = "<b>" + sale + "</b>";
    c[8] = "1 234.50";
    c[9] = "1 234,50";
    ASSERT_EQ(parse("\n" + cells(c) + "\n", &t), 0);
    EXPECT_EQ(t.d, 5);
    EXPECT_EQ(t.mo, 3);
    EXPECT_EQ(t.y, 2013);
    EXPECT_EQ(t.h, 10);
    EXPECT_EQ(t.mi, 7);
    EXPECT_EQ(t.s, 31);
    EXPECT_EQ(t.no, 1);
    EXPECT_EQ(t.order, -42);
    EXPECT_STREQ(t.ticker, "GAZP");
    EXPECT_STREQ(t.stock, c[4].c_str());
    EXPECT_EQ(t.direction, 2);
    EXPECT_EQ(t.price, 1234.5);
    EXPECT_EQ(t.amount, 1234.0);
    EXPECT_EQ(t.commission, 1.75);   // "0.5" + "" + "0.25" + "x" + "1"
}

TEST(RowParser, CellsTakeAttributesAndLoseTheirTags)
{
    transaction_t t{};
    auto c = good_cells();
    std::string row;
    for (size_t i = 0; i < c.size(); i++)
        row += "<td align=\"right\" class=x>" + c[i] + "</td>\r\n";
    row.replace(row.find("GAZP"), 4, "<i>GA</i>Z<br>P");
    row.replace(row.find("100.5"), 5, "<span>1 00</span>.<b>5</b>");
    ASSERT_EQ(parse(row, &t), 0);
    EXPECT_STREQ(t.ticker, "GAZP");
    EXPECT_EQ(t.price, 100.5);
    EXPECT_EQ(t.direction, 1);
    // Character entities stay as they are; other white space than blanks too.
    c[4] = "A&nbsp;B";
    c[9] = "\t12";
    ASSERT_EQ(parse(cells(c), &t), 0);
    EXPECT_STREQ(t.stock, "A&nbsp;B");
    EXPECT_EQ(t.amount, 12.0);
}

TEST(RowParser, RejectCodesComeFromTheFirstFailingCheck)
{
    transaction_t t{};
    auto c = good_cells();
    auto with = [&](int i, const std::string &text) {
        auto d = c;
        d[i] = text;
        return cells(d);
    };
    // Not sixteen cells.
    EXPECT_EQ(parse(cells(std::vector<std::string>(c.begin(), c.begin() + 15)), &t), -1);
    EXPECT_EQ(parse(cells(c) + "<td>x</td>", &t), -1);
    EXPECT_EQ(parse(cells(std::vector<std::string>(64, "1")), &t), -1);
    EXPECT_EQ(parse(cells(std::vector<std::string>(1000, "1")), &t), -1);
    EXPECT_EQ(parse("<th>a</th><th>b</th>", &t), -1);
    EXPECT_EQ(parse("", &t), -1);
    // A "<" without ">" in any of the sixteen cells, used or not.
    EXPECT_EQ(parse(with(5, "a<b"), &t), -1);
    EXPECT_EQ(parse(with(15, "<"), &t), -1);
    // An opening tag without ">" or a cell without "</td>" ends the cells.
    EXPECT_EQ(parse(cells(c) + "<td", &t), 0);
    EXPECT_EQ(parse(cells(c) + "<td>x", &t), 0);
    // The date and time.
    EXPECT_EQ(parse(with(0, "2013-03-05 10:07:31"), &t), -2);
    EXPECT_EQ(parse(with(0, "05.03.2013 10:07"), &t), -2);
    EXPECT_EQ(parse(with(0, "05.03.2013 10:07:x"), &t), -2);
    EXPECT_EQ(parse(with(0, ""), &t), -2);
    EXPECT_EQ(parse(with(0, " 05.03.2013   10:07:31 extra"), &t), 0);
    // The direction, byte for byte.
    EXPECT_EQ(parse(with(6, " " + buy), &t), -4);
    EXPECT_EQ(parse(with(6, buy + " "), &t), -4);
    EXPECT_EQ(parse(with(6, "Buy"), &t), -4);
    // Order of the checks: tags before the date, the date before the direction.
    auto both = with(0, "bad");
    both = both.replace(both.find(buy), buy.size(), "x");
    EXPECT_EQ(parse(both, &t), -2);
    EXPECT_EQ(parse(with(0, "bad") + "", &t), -2);
    auto tag_and_date = c;
    tag_and_date[0] = "bad";
    tag_and_date[15] = "<";
    EXPECT_EQ(parse(cells(tag_and_date), &t), -1);
}

TEST(RowParser, NumberCellsNeverRejectARow)
{
    transaction_t t{};
    auto c = good_cells();
    c[1] = "x";
    c[2] = "99999999999999999999";
    c[8] = "";
    c[9] = "1e3";
    for (int i = 10; i <= 14; i++)
        c[i] = "-";
    ASSERT_EQ(parse(cells(c), &t), 0);
    EXPECT_EQ(t.no, 0);
    EXPECT_EQ(t.order, INT64_MAX);
    EXPECT_EQ(t.price, 0.0);
    EXPECT_EQ(t.amount, 1000.0);
    EXPECT_EQ(t.commission, 0.0);
}

// The scan of cell 0 must count and store exactly what the C library's scan
// of "%d.%d.%d %d:%d:%d" does, overflow and partial input included.
TEST(RowParser, DateScanAgreesWithTheCLibrary)
{
    std::vector<std::string> inputs = {
        "05.03.2013 10:07:31", "5.3.2013 10:07:31", "  5.3.2013\t\n10:7:31x", "+5.-3.2013 10:07:31",
        "5 .3.2013 10:07:31", "5.3.2013 10 :07:31", "5.3.201310:07:31", "5.3.2013 10:07:",
        "5.3.2013", "-", "+", "", " ", "5..2013 1:2:3", "99999999999.3.2013 1:2:3",
        "4294967297.3.2013 1:2:3", "-2147483649.1.1 1:1:1", "99999999999999999999999.1.1 1:1:1",
        "-99999999999999999999999.1.1 1:1:1", "9223372036854775807.1.1 1:1:1",
        "-9223372036854775808.1.1 1:1:1", "18446744073709551616.1.1 1:1:1", "1.2.3 4:5:6:7",
        "1.2.3\v4:5:6", "1.2.3 4:5:+", "0x10.1.1 1:1:1", "1.2.3 4:5:6.5"};
    std::mt19937 gen(7);
    const char alphabet[] = "0123456789.:  -+\t9x";
    for (int i = 0; i < 20000; i++) {
        std::string s;
        int len = (int)(gen() % 30);
        for (int k = 0; k < len; k++)
            s += alphabet[gen() % (sizeof alphabet - 1)];
        inputs.push_back(s);
    }
#ifdef _WIN32
    GTEST_SKIP() << "the reference is glibc's sscanf: msvcrt's wraps overflowing numbers instead";
#endif
    for (const auto &s : inputs) {
        int v[6] = {-7, -7, -7, -7, -7, -7};
        int n = sscanf(s.c_str(), "%d.%d.%d %d:%d:%d", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
        transaction_t t{-7, -7, -7, -7, -7, -7, 0, 0, nullptr, nullptr, 0, 0, 0, 0, nullptr};
        int got = scan_date_time(s.c_str(), &t);
        ASSERT_EQ(got, n < 0 ? 0 : n) << "'" << s << "'";
        int mine[6] = {t.d, t.mo, t.y, t.h, t.mi, t.s};
        for (int k = 0; k < got; k++)
            ASSERT_EQ(mine[k], v[k]) << "'" << s << "' value " << k;
    }
}

TEST(RowParser, MoneyCellsReadExactlyAsAtof)
{
    std::vector<std::string> inputs = {
        "", "0", "-0", "-0.0", "+1.5", ".5", "-.5", "5.", ".", "-", "1,5", "12abc", "1.5e3", "1.5e",
        "1.5e+", "1e-5", "1E400", "-1e400", "inf", "-Infinity", "nan", "NaN(12)", "0x1A", "0x1p3", "0X.8",
        "00x1", "0.0x1", " \t7.25", "\n-3", "123456789012345678901234567890", "9007199254740993",
        "9007199254740992", "0.1", "0.30", "19.99", "1234567.891", "0.000000000000000000000001",
        "1.00000000000000000000000000001", "99999999999999999999", "18446744073709551615.5",
        "1.7976931348623157e308", "4.9e-324", "0.1234567890123456789", "12345678901234567.89",
        "1..5", "--1", "+-1", "1 234"};
    std::mt19937_64 gen(11);
    char text[64];
    for (int i = 0; i < 100000; i++) {
        uint64_t r = gen();
        int decimals = (int)(r % 8);
        double v = (double)(gen() % 100000000000ULL) / std::pow(10.0, (double)((r >> 8) % 12));
        snprintf(text, sizeof text, "%.*f", decimals, (r & 1 << 20) ? -v : v);
        inputs.push_back(text);
        snprintf(text, sizeof text, "%.17g", v);
        inputs.push_back(text);
    }
#ifdef _WIN32
    GTEST_SKIP() << "the reference is glibc's atof: msvcrt's reads hex, infinities and NaNs otherwise";
#endif
    for (const auto &s : inputs) {
        double want = atof(s.c_str()), got = to_double(s.c_str());
        if (std::isnan(want))
            ASSERT_TRUE(std::isnan(got)) << "'" << s << "'";
        else
            ASSERT_EQ(memcmp(&want, &got, sizeof want), 0) << "'" << s << "' " << want << " " << got;
    }
}

TEST(RowParser, TradeNumbersReadExactlyAsStrtoq1)
{
    std::vector<std::string> inputs = {"", "0", "7", "123456789012345678", "1234567890123456789",
                                       "9223372036854775807", "9223372036854775808", "99999999999999999999",
                                       "-5", "+5", " 5", "5 ", "12a", "0x10", "\xff", "000000000000000000000001"};
    std::mt19937_64 gen(29);
    for (int i = 0; i < 20000; i++) {
        std::string s = std::to_string(gen() >> (gen() % 64));
        if (gen() % 4 == 0)
            s.insert(gen() % (s.size() + 1), 1, "0123456789 -x"[gen() % 13]);
        inputs.push_back(s);
    }
    for (const auto &s : inputs)
        ASSERT_EQ(to_int64(s.c_str()), strtoq1(s.c_str(), nullptr, 10)) << "'" << s << "'";
}

std::string printf_line(const transaction_t &t)
{
    char line[2048];
    snprintf(line, sizeof line, "%02d.%02d.%04d %02d:%02d:%02d %15s %12s %1d %10.5f %15.3f %5.3f\n", t.d, t.mo,
             t.y, t.h, t.mi, t.s, insert_commas6(t.order), t.stock, t.direction, t.price, t.amount,
             t.commission);
    return line;
}

std::string my_line(const transaction_t &t)
{
    kt_test::TempDir dir;
    std::string path = dir.file("line.txt");
    FILE *fp = fopen(path.c_str(), "w");
    write_trade_line(fp, &t);
    fclose(fp);
    return kt_test::read_text_file(path);
}

TEST(TradeLine, HasTheFixedLayout)
{
    transaction_t t{5, 3, 2013, 10, 7, 31, 101, 5001, (char *)"GAZP", (char *)"Gazprom", 1, 100.5, 1005, 1.75,
                    nullptr};
    EXPECT_EQ(my_line(t), "05.03.2013 10:07:31            5001      Gazprom 1  100.50000        1005.000 1.750\n");
    // Order numbers as unsigned 64-bit digits; long fields written whole.
    transaction_t u{-5, 123, 7, 0, 0, 0, 1, -1, (char *)"X", (char *)"A very long security name", 2,
                    123456.789, -0.0005, 12345.0625, nullptr};
    EXPECT_EQ(my_line(u), "-5.123.0007 00:00:00 18446744073709551615 A very long security name 2 "
                          "123456.78900          -0.001 12345.062\n");
}

// Every field of the trade line against printf itself, rounding ties,
// non-finite values and extreme magnitudes included.
TEST(TradeLine, AgreesWithPrintfOfTheFormat)
{
#ifdef _WIN32
    GTEST_SKIP() << "the reference is glibc's printf: the Windows one writes NaNs otherwise";
#endif
    std::mt19937_64 gen(3);
    const double specials[] = {0.0, -0.0, 0.5, 1.0625, 2.5, 0.125, 1e300, -1e300, DBL_MAX, DBL_MIN, 4.9e-324,
                               1e15, 123456789.0005, 0.00005, 0.000015, -0.0000049, INFINITY, -INFINITY,
                               NAN, -NAN, 9007199254740993.0};
    std::string mine, theirs;
    kt_test::TempDir dir;
    std::string path = dir.file("lines.txt");
    FILE *fp = fopen(path.c_str(), "w");
    for (int i = 0; i < 60000; i++) {
        transaction_t t{};
        int32_t ints[6];
        for (auto &v : ints)
            v = (gen() % 4 == 0) ? (int32_t)(uint32_t)gen() : (int32_t)(gen() % 130) - 10;
        t.d = ints[0], t.mo = ints[1], t.y = ints[2], t.h = ints[3], t.mi = ints[4], t.s = ints[5];
        t.order = (int64_t)(gen() >> (gen() % 64));
        t.stock = (char *)(i % 3 ? "Gazprom" : "");
        t.direction = 1 + (int)(gen() % 2);
        double *money[3] = {&t.price, &t.amount, &t.commission};
        for (double *m : money) {
            uint64_t r = gen();
            if (r % 5 == 0)
                *m = specials[(r >> 8) % (sizeof specials / sizeof specials[0])];
            else if (r % 5 == 1) {
                uint64_t bits = gen();
                memcpy(m, &bits, sizeof bits);
            } else if (r % 5 == 2) {   // dyadic values: exact ties at 3 and 5 decimals
                *m = std::ldexp((double)(int64_t)(gen() % (1ULL << 45)) - (double)(1ULL << 44), -(int)(gen() % 60));
            } else {
                *m = (double)(int64_t)(gen() % 20000000000ULL - 10000000000LL) / std::pow(10.0, (double)(r % 9));
            }
        }
        write_trade_line(fp, &t);
        theirs += printf_line(t);
    }
    fclose(fp);
    EXPECT_TRUE(kt_test::read_text_file(path) == theirs);
}

struct Import {
    trade_store_t A{};
    std::string imported, garbage;

    explicit Import(std::string text)
    {
        allocate_trades(&A);
        kt_test::TempDir dir;
        FILE *f1 = fopen(dir.file("i").c_str(), "w"), *f2 = fopen(dir.file("g").c_str(), "w");
        std::vector<char> buffer(text.begin(), text.end());
        buffer.push_back(0);
        buffer.push_back(0);
        import_rows(buffer.data(), text.size(), &A, f1, f2);
        fclose(f1);
        fclose(f2);
        imported = kt_test::read_text_file(dir.file("i"));
        garbage = kt_test::read_text_file(dir.file("g"));
    }
    ~Import() { free_trade_store(&A); }
};

TEST(RowLoop, CutsRowsAndSortsThemIntoImportedAndGarbage)
{
    std::string good = cells(good_cells());
    std::string header = "<th>a</th>\n<th>b</th>";
    Import im("<table>\n<tr>" + header + "</tr>\n<TR>" + good + "</TR><tr class=x>" + good +
              "</tr>\n<tr>" + good + "</tr>\n<tr><td>x</td></tr> <tr>" + good);
    EXPECT_EQ(im.A.nt, 1);
    EXPECT_EQ(im.imported, "05.03.2013 10:07:31            5001      Gazprom 1  100.50000        1005.000 1.750\n");
    // "<TR>" and "<tr class=x>" start no row, so their cells are not read;
    // the last "<tr>" has no "</tr>" and ends the file unread.
    EXPECT_EQ(im.garbage, "-1| " + header + "\n-1| <td>x</td>\n");
}

TEST(RowLoop, TheHeaderRowNamesTheAccountColumn)
{
    // Trade rows carry "acc" in their last cell and "x" in cell 13.
    std::string good = "<tr>" + cells(good_cells()) + "</tr>\n";
    auto account = [](const Import &im, int k) { return std::string(im.A.T[k].account ? im.A.T[k].account : "-"); };
    std::string heads;
    for (int k = 0; k < 15; k++)
        heads += "<th>h</th>";
    // "Счет" in a "<th>" row, in capitals with "Ё", a tag and a blank inside.
    Import th("<tr>" + heads + "<th><b>\xD1 \xD7\xA8\xD2</b></th></tr>\n" + good + good);
    EXPECT_EQ(account(th, 0), "acc");
    EXPECT_EQ(account(th, 1), "acc");
    EXPECT_EQ(th.A.T[0].account, th.A.T[1].account);   // one shared copy
    // A row of "<td>" names before the first trade row; the same row after it
    // is no header.
    std::string td_head = "<tr><td>a</td><td>\xF1\xF7\xE5\xF2</td></tr>\n";
    Import td(td_head + good + good);
    EXPECT_EQ(account(td, 0), "101");   // cell 1 of the trade row: its number
    EXPECT_EQ(account(td, 1), "101");
    EXPECT_EQ(td.A.T[1].no, 101);       // still read when the account repeats
    Import late(good + td_head + good);
    EXPECT_EQ(account(late, 1), "-");
    // No header, or a header without the word: no account.
    Import none("<tr>" + heads + "<th>\xD1\xF7\xE5\xF2\xE0</th></tr>\n" + good);
    EXPECT_EQ(account(none, 0), "-");
    // Other outputs do not change: the header row stays garbage.
    EXPECT_EQ(th.garbage.substr(0, 4), "-1| ");
}

TEST(RowLoop, ANulByteEndsTheText)
{
    std::string good = cells(good_cells());
    Import before("<tr>" + good + "</tr>" + std::string(1, '\0') + "<tr>" + good + "</tr>");
    EXPECT_EQ(before.A.nt, 1);
    Import inside("<tr>" + good + std::string(1, '\0') + "</tr><tr>" + good + "</tr>");
    EXPECT_EQ(inside.A.nt, 0);
    EXPECT_EQ(inside.garbage, "");
}

TEST(RowLoop, RowsBeyondTheInitialCapacityAreAllKept)
{
    std::string text;
    const int rows = 16384 + 1000;
    for (int i = 0; i < rows; i++) {
        auto c = good_cells();
        c[1] = std::to_string(i);
        text += "<tr>" + cells(c) + "</tr>\n";
    }
    Import im(text);
    ASSERT_EQ(im.A.nt, rows);
    EXPECT_GE(im.A.nt_a, rows);
    EXPECT_EQ(im.A.T[rows - 1].no, rows - 1);
    EXPECT_EQ(im.A.T[0].no, 0);
}

TEST(RowLoop, BadBytesNeitherCrashNorHang)
{
    std::mt19937 gen(5);
    const char *pieces[] = {"<tr>", "</tr>", "<td", "<td>", "</td>", ">", "<", "a", "\xff", "\n", " ", "1"};
    for (int round = 0; round < 300; round++) {
        std::string text;
        int n = (int)(gen() % 400);
        for (int k = 0; k < n; k++)
            text += pieces[gen() % (sizeof pieces / sizeof pieces[0])];
        Import im(text);
        EXPECT_GE(im.A.nt, 0);
    }
    // A very long row of many cells and a very long unterminated tag.
    std::string many;
    for (int i = 0; i < 10000; i++)
        many += "<td>1</td>";
    Import wide("<tr>" + many + "</tr>");
    EXPECT_EQ(wide.garbage.substr(0, 4), "-1| ");
    Import open_tag("<tr>" + cells(good_cells()) + "<td" + std::string(3000000, 'x') + "</tr>");
    EXPECT_EQ(open_tag.A.nt, 1);
}

TEST(TradeFiles, NameMatchingIgnoresCase)
{
    EXPECT_TRUE(is_trade_file("sdelki.xls"));
    EXPECT_TRUE(is_trade_file("Sdelki.XLS"));
    EXPECT_TRUE(is_trade_file("SDELKI_2013-05.Xls"));
    EXPECT_FALSE(is_trade_file("sdelki.html"));
    EXPECT_FALSE(is_trade_file("my_sdelki.xls"));
    EXPECT_FALSE(is_trade_file("sdelki.xlsx"));
}

}  // namespace

namespace {

// The step-by-step model of the import that the real one must match.
void model_import(std::string text, std::string &imported, std::string &garbage)
{
    text.push_back(0);
    std::vector<import_model::record> records;
    import_model::import(text.data(), &records, &imported, &garbage);
}

TEST(RowLoop, AgreesWithTheStepByStepModelOnMangledTables)
{
    std::mt19937 gen(17);
    const std::vector<std::string> noise = {"<tr>", "</tr>", "<td>", "<td align=right>", "</td>", "<", ">", "<b>",
                                            "</b>", " ", "\n", "x", "<td", "</t", "r>", "<tr", "d>", "1", ".",
                                            ":", "-", std::string(1, '\0'), "</td></tr>", buy, sale, "\xff"};
    for (int round = 0; round < 3000; round++) {
        std::string text;
        int rows = 1 + (int)(gen() % 6);
        for (int k = 0; k < rows; k++) {
            auto c = good_cells();
            c[1] = std::to_string(gen() % 1000);
            c[6] = gen() % 2 ? buy : sale;
            c[8] = std::to_string(gen() % 500) + "." + std::to_string(gen() % 100);
            std::string row = (gen() % 8 ? "<tr>" : "") + cells(c) + (gen() % 8 ? "</tr>\n" : "");
            int mutations = (int)(gen() % 4);
            for (int m = 0; m < mutations; m++) {
                size_t at = gen() % (row.size() + 1);
                if (gen() % 3 == 0 && at < row.size())
                    row.erase(at, 1 + gen() % 6);
                else
                    row.insert(at, noise[gen() % noise.size()]);
            }
            text += row;
        }
        std::string want_imported, want_garbage;
        model_import(text, want_imported, want_garbage);
        Import im(text);
        ASSERT_EQ(im.imported, want_imported) << text;
        ASSERT_EQ(im.garbage, want_garbage) << text;
    }
}

}  // namespace
