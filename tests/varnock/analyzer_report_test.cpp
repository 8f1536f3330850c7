// The report pages: stock sections, whole pages and the report files.

#include "output.h"
#include "records.h"
#include "reports.h"

#include "test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

namespace {

// The expectations are written in UTF-8 here and stored as the pages store
// them, in Windows-1251.
using kt_test::cp1251;

transaction_t trade(const char *when, const char *stock, int direction, double price,
                    double amount, double commission = 0)
{
    transaction_t t{};
    sscanf(when, "%d.%d.%d %d:%d:%d", &t.d, &t.mo, &t.y, &t.h, &t.mi, &t.s);
    t.stock = const_cast<char *>(stock);
    t.ticker = const_cast<char *>("TCK");
    t.direction = direction;
    t.price = price;
    t.amount = amount;
    t.commission = commission;
    return t;
}

std::string section(std::vector<transaction_t> T)
{
#ifdef _WIN32
    // No memory streams here: a binary temporary file keeps the bytes as written.
    FILE *fp = tmpfile();
    produce_stock_report(fp, T.data(), (int)T.size());
    std::string s;
    rewind(fp);
    for (int c; (c = fgetc(fp)) != EOF;)
        s += (char)c;
    fclose(fp);
    return s;
#else
    char *text = nullptr;
    size_t len = 0;
    FILE *fp = open_memstream(&text, &len);
    produce_stock_report(fp, T.data(), (int)T.size());
    fclose(fp);
    std::string s(text, len);
    free(text);
    return s;
#endif
}

const std::string table_head =
    "<p><table border=1 cellspacing=0 cellpadding=5>\n"
    "<tr><th>Дата и время</th><th>Цена</th><th>Количество</th><th>Покупка</th>"
    "<th>Продажа</th><th>Прибыль</th></tr>\n";

std::string balance(const std::string &shares, const std::string &money, const std::string &turnover,
                    const std::string &comm)
{
    return "Баланс по бумагам: <b>" + shares + "</b> шт., по деньгам: <b>" + money +
           "</b> руб., оборот <b>" + turnover + "</b> руб., комиссия <b>" + comm + "</b> руб.\n";
}

TEST(StockSection, BuyThenSaleOfTheSameSize)
{
    std::string expected = cp1251(
        "<h2>Акция Сбербанк (TCK)</h2>\n" + table_head +
        "<tr><td>05.03.2013 10:07:31</td><td align=right>100.0000</td><td align=right>100</td>"
        "<td align=right>10,000.00</td><td></td><td></td></tr>"
        "<tr><td>05.03.2013 11:00:00</td><td align=right>105.0000</td><td align=right>100</td>"
        "<td></td><td align=right>10,500.00</td>"
        "<td align=right><font color=darkgreen>500.00</font></td></tr>"
        "</table></p>\n" +
        balance("0", "<font color=darkgreen>496.25</font>", "20,500.00", "3.75"));
    std::string name = cp1251("Сбербанк");
    EXPECT_EQ(section({trade("5.3.2013 10:07:31", name.c_str(), 1, 100, 10000, 1.5),
                       trade("05.03.2013 11:00:00", name.c_str(), 2, 105, 10500, 2.25)}),
              expected);
}

TEST(StockSection, ProfitOnlyForASaleDirectlyUnderABuyOfTheSameSize)
{
    std::string s = section({
        trade("01.02.2012 10:00:00", "X", 1, 10, 1000),     // first row: never a profit
        trade("01.02.2012 10:00:01", "X", 2, 9, 900),       // loss under the buy
        trade("01.02.2012 10:00:02", "X", 2, 11, 1100),     // sale under a sale
        trade("01.02.2012 10:00:03", "X", 1, 10, 500),      // buys are never paired
        trade("01.02.2012 10:00:04", "X", 1, 10, 500),
        trade("01.02.2012 10:00:05", "X", 2, 12, 1200),     // 100 under 50
        trade("01.02.2012 10:00:06", "X", 1, 10, 1000.04),  // 100.004 shares
        trade("01.02.2012 10:00:07", "X", 2, 12, 1200),     // 100: within 0.01 share
        trade("01.02.2012 10:00:08", "X", 1, 2, 100),       // 50 shares
        trade("01.02.2012 10:00:09", "X", 2, 1, 50.02),     // 50.02: not within
    });
    std::regex cell("<td(?: align=right)?>([^<]*|<font[^<]*</font>)</td></tr>");
    std::vector<std::string> profits;
    for (std::sregex_iterator m(s.begin(), s.end(), cell), end; m != end; ++m)
        profits.push_back((*m)[1]);
    std::vector<std::string> expected = {"", "<font color=red>-100.00</font>", "", "", "", "",
                                         "", "<font color=darkgreen>199.96</font>", "", ""};
    EXPECT_EQ(profits, expected);
    // 100 - 100 - 100 + 50 + 50 - 100 + 100.004 - 100 + 50 - 50.02 = -100.016 shares;
    // sales 4450.02 against buys 3100.04.
    EXPECT_NE(s.find(cp1251(balance("-100", "<font color=darkgreen>1,349.98</font>", "7,550.06", "0.00"))),
              std::string::npos)
        << s;
}

TEST(StockSection, DatesAreWrittenAsStoredWhateverTheirRange)
{
    transaction_t t = trade("1.1.2000 0:0:0", "X", 1, 1, 1);
    t.d = 123, t.mo = -5, t.y = 7, t.h = 100, t.mi = 0, t.s = -10;
    EXPECT_NE(section({t}).find("<tr><td>123.-5.0007 100:00:-10</td>"), std::string::npos);
    t.y = -12, t.d = 9;
    EXPECT_NE(section({t}).find("<tr><td>09.-5.-012 100:00:-10</td>"), std::string::npos);
}

// A whole page as written, with the time of writing replaced by "DATE"
// once its shape has been checked.
std::string page_without_time(const std::string &page)
{
    std::string mark = cp1251("<p>Отчет сформирован ");
    size_t at = page.find(mark);
    EXPECT_NE(at, std::string::npos);
    if (at == std::string::npos)
        return page;
    at += mark.size();
    std::string when = page.substr(at, 19);
    EXPECT_TRUE(std::regex_match(when, std::regex(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d)"))) << when;
    return page.substr(0, at) + "DATE" + page.substr(at + 19);
}

const std::string page_head =
    "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
    "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\n"
    "<html>\n<head>\n"
    "<meta http-equiv=\"content-type\" content=\"text/html; charset=Windows-1251\" />\n"
    "<title>Отчет по сделкам</title>\n</head>\n<body>\n";

std::string statistics(int count, const std::string &turnover, const std::string &result,
                       const std::string &comm)
{
    return "<p><table border=0 cellpadding=2>\n"
           "<tr><td>Сделок всего:</td> <td align=right>" + std::to_string(count) + "</td></tr>\n"
           "<tr><td>Оборот:</td> <td align=right>" + turnover + "</td></tr>\n"
           "<tr><td>Результат:</td> <td align=right>" + result + "</td></tr>\n"
           "<tr><td>Комиссия:</td> <td align=right>" + comm + "</td></tr>\n"
           "</table></p>\n";
}

const std::string page_foot = "<hr>\n<p>Отчет сформирован DATE<br>\nVarnock " VARNOCK_VERSION
                              "</p>\n</body>\n</html>\n";

TEST(ReportFiles, OneYearGivesTheSamePageTwice)
{
    EXPECT_EQ(cp1251(page_head).size(), 260u);
    std::vector<transaction_t> T = {
        trade("02.01.2013 12:00:00", "Lukoil", 2, 0.3, 0.9, 0.01),
        trade("02.01.2013 11:00:00", "Lukoil", 1, 0.3, 0.3, 0.01),
    };
    kt_test::TempDir dir;
    {
        kt_test::ChdirGuard in(dir.path());
        write_reports(T.data(), (int)T.size(), text_ranks_t{});
    }
    std::string expected = cp1251(
        page_head + "<h1>Статистика за 2013</h1>\n" + "<h2>Акция Lukoil (TCK)</h2>\n" + table_head +
        "<tr><td>02.01.2013 11:00:00</td><td align=right>0.3000</td><td align=right>1</td>"
        "<td align=right>0.30</td><td></td><td></td></tr>"
        "<tr><td>02.01.2013 12:00:00</td><td align=right>0.3000</td><td align=right>3</td>"
        "<td></td><td align=right>0.90</td><td></td></tr>"
        "</table></p>\n" +
        balance("-2", "<font color=darkgreen>0.58</font>", "1.20", "0.02") +
        statistics(2, "1.20", "<font color=darkgreen>0.58</font>", "0.02") + page_foot);
    EXPECT_EQ(page_without_time(kt_test::read_text_file(dir.file("report-2013.html"))), expected);
    EXPECT_EQ(page_without_time(kt_test::read_text_file(dir.file("report.html"))), expected);
}

TEST(ReportFiles, OnePagePerYearPresentAndOneOverAllYears)
{
    std::string gazprom = cp1251("Газпром");
    std::vector<transaction_t> T = {
        trade("10.06.2013 10:00:00", gazprom.c_str(), 2, 150, 1500, 1),
        trade("10.06.2011 10:00:00", "Lukoil", 1, 2000, 20000, 2),
        trade("09.06.2011 10:00:00", gazprom.c_str(), 1, 100, 1000, 1),
        trade("01.01.2013 09:00:00", "Lukoil", 2, 2100, 21000, 2),
        trade("31.12.2011 23:59:59", "Sber", 1, 10, 100, 0.5),
        trade("01.01.2013 09:00:00", "sber", 1, 10, 200, 0.5),
        trade("01.01.2013 09:00:00", "Sber ", 1, 10, 300, 0.5),
    };
    kt_test::TempDir dir;
    {
        kt_test::ChdirGuard in(dir.path());
        write_reports(T.data(), (int)T.size(), text_ranks_t{});
    }
    EXPECT_FALSE(kt_test::file_exists(dir.file("report-2012.html")));
    auto outline = [&](const std::string &name) {
        std::string page = kt_test::read_text_file(dir.file(name)), lines;
        std::regex line("<h1>.*</h1>|<h2>.*</h2>|<tr><td>\\d\\d\\.\\d\\d\\.\\d{4}|"
                        "<td align=right>\\d+</td></tr>|<td align=right><font.*</font></td></tr>");
        for (std::sregex_iterator m(page.begin(), page.end(), line), end; m != end; ++m)
            lines += m->str() + "\n";
        return lines;
    };
    EXPECT_EQ(outline("report-2011.html"),
              cp1251("<h1>Статистика за 2011</h1>\n"
                     "<h2>Акция Lukoil (TCK)</h2>\n<tr><td>10.06.2011\n"
                     "<h2>Акция Sber (TCK)</h2>\n<tr><td>31.12.2011\n"
                     "<h2>Акция Газпром (TCK)</h2>\n<tr><td>09.06.2011\n"
                     "<td align=right>3</td></tr>\n"
                     "<td align=right><font color=red>-21,103.50</font></td></tr>\n"));
    EXPECT_EQ(outline("report-2013.html"),
              cp1251("<h1>Статистика за 2013</h1>\n"
                     "<h2>Акция Lukoil (TCK)</h2>\n<tr><td>01.01.2013\n"
                     "<h2>Акция Sber  (TCK)</h2>\n<tr><td>01.01.2013\n"
                     "<h2>Акция sber (TCK)</h2>\n<tr><td>01.01.2013\n"
                     "<h2>Акция Газпром (TCK)</h2>\n<tr><td>10.06.2013\n"
                     "<td align=right>4</td></tr>\n"
                     "<td align=right><font color=darkgreen>21,996.00</font></td></tr>\n"));
    // Every stock's trades of all years form one section in the overall page,
    // where a sale now stands under the previous year's buy of the same size.
    EXPECT_EQ(outline("report.html"),
              cp1251("<h1>Статистика за 2011 -- 2013</h1>\n"
                     "<h2>Акция Lukoil (TCK)</h2>\n<tr><td>10.06.2011\n<tr><td>01.01.2013\n"
                     "<td align=right><font color=darkgreen>1,000.00</font></td></tr>\n"
                     "<h2>Акция Sber (TCK)</h2>\n<tr><td>31.12.2011\n"
                     "<h2>Акция Sber  (TCK)</h2>\n<tr><td>01.01.2013\n"
                     "<h2>Акция sber (TCK)</h2>\n<tr><td>01.01.2013\n"
                     "<h2>Акция Газпром (TCK)</h2>\n<tr><td>09.06.2011\n<tr><td>10.06.2013\n"
                     "<td align=right><font color=darkgreen>500.00</font></td></tr>\n"
                     "<td align=right>7</td></tr>\n"
                     "<td align=right><font color=darkgreen>892.50</font></td></tr>\n"));
}

TEST(ReportFiles, AFileThatCannotBeWrittenStopsTheRunKeepingEarlierPages)
{
    std::vector<transaction_t> T = {trade("01.01.2012 10:00:00", "A", 1, 1, 1),
                                    trade("01.01.2013 10:00:00", "A", 1, 1, 1)};
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: a full device (/dev/full) behind a symbolic link";
#else
    kt_test::TempDir dir;
    ASSERT_EQ(mkdir(dir.file("report.html").c_str(), 0755), 0);
    ASSERT_EQ(symlink("/dev/full", dir.file("report-2013.html").c_str()), 0);
    auto run = [&] {
        kt_test::ChildResult r = kt_test::run_in_child([&] {
            kt_test::ChdirGuard in(dir.path());
            write_reports(T.data(), (int)T.size(), text_ranks_t{});
        });
        EXPECT_TRUE(r.exited);
        EXPECT_EQ(r.status, 1);
        return r.err;
    };
    EXPECT_EQ(run(), "cannot close file stream (No space left on device)\n");
    std::string page = kt_test::read_text_file(dir.file("report-2012.html"));
    EXPECT_EQ(page.substr(page.size() - 16), "</body>\n</html>\n");

    ASSERT_EQ(unlink(dir.file("report-2013.html").c_str()), 0);
    EXPECT_EQ(run(), "cannot open report.html in mode \"w\" (Is a directory)\n");
    page = kt_test::read_text_file(dir.file("report-2013.html"));
    EXPECT_EQ(page.substr(page.size() - 16), "</body>\n</html>\n");
#endif
}

}  // namespace

namespace {

// The report sorts compare integer keys made from the names' ranks; whatever
// the path taken, the result must be ordered by the comparators and hold every
// record once.
TEST(ReportOrder, SortsAgreeWithTheComparators)
{
    trade_store_t store = {};
    const char *texts[] = {"Sber", "Sber ", "sber", "\xC3\xE0\xE7", "\xA8\xEB\xEA", "", "Z"}, *names[7];
    for (int k = 0; k < 7; k++)
        names[k] = text_copy(&store.texts, texts[k]);
    rank_texts(&store);
    uint64_t state = 2463534242ull;
    auto next = [&](int m) {
        state ^= state << 13, state ^= state >> 7, state ^= state << 17;
        return (int)(state % (uint64_t)m);
    };
    for (int variant = 0; variant < 4; variant++) {
        std::vector<transaction_t> T(5000);
        for (size_t i = 0; i < T.size(); i++) {
            transaction_t &t = T[i];
            t = trade("01.01.2000 00:00:00", names[next(7)], 1 + next(2), 1, 1);
            t.y = 2010 + next(3), t.mo = 1 + next(12), t.d = 1 + next(3);
            t.h = next(2), t.mi = next(2), t.s = next(60);
            t.no = (int64_t)i;
        }
        if (variant == 1)
            T[77].y = 70000;  // beyond the packed key: the comparators sort
        if (variant == 2)
            T[1234].s = -1;
        if (variant == 3)
            T[4321].stock = const_cast<char *>("Sber");   // not a ranked copy
        for (bool year_first : {true, false}) {
            auto cmp = year_first ? cmp_transaction_year_stock : cmp_transaction_stock;
            (year_first ? sort_by_year_and_stock : sort_by_stock)(T.data(), (int)T.size(), store.ranks);
            for (size_t i = 1; i < T.size(); i++)
                ASSERT_LE(cmp(&T[i - 1], &T[i]), 0) << "variant " << variant << " at " << i;
            std::vector<bool> seen(T.size());
            for (const transaction_t &t : T)
                seen[(size_t)t.no] = true;
            EXPECT_EQ(std::count(seen.begin(), seen.end(), true), (long)T.size());
        }
    }
    free_trade_store(&store);
}

}  // namespace

namespace {

#ifndef _WIN32  // fopencookie streams are glibc's
// A stream each of whose writes fails, as one past a file size limit does.
FILE *failing_stream()
{
    cookie_io_functions_t io{};
    io.write = [](void *, const char *, size_t) -> ssize_t {
        errno = EFBIG;
        return -1;
    };
    FILE *fp = fopencookie(nullptr, "w", io);
    static char buffer[256];
    setvbuf(fp, buffer, _IOFBF, sizeof buffer);
    return fp;
}

// A failed write ends the run at once with the close's message: the writer
// never returns to go on as if the page or the line were whole.
TEST(Output, AFailedWriteEndsTheRunWithTheClosesMessage)
{
    std::vector<transaction_t> T(50, trade("05.03.2013 10:00:00", "A", 1, 10, 1000, 1));
    std::vector<std::function<void(FILE *)>> writers = {
        [&](FILE *fp) { produce_report(fp, T.data(), (int)T.size()); },
        [&](FILE *fp) { write_report_header(fp); },
        [&](FILE *fp) {
            for (const transaction_t &t : T)
                write_trade_line(fp, &t);
        },
    };
    for (size_t k = 0; k < writers.size(); k++) {
        auto r = kt_test::run_in_child([&] {
            writers[k](failing_stream());
            printf("returned");
        });
        EXPECT_TRUE(r.exited) << k;
        EXPECT_EQ(r.status, 1) << k;
        EXPECT_EQ(r.err, "cannot close file stream (File too large)\n") << k;
        EXPECT_EQ(r.out, "") << k;
    }
}
#else
TEST(Output, AFailedWriteEndsTheRunWithTheClosesMessage)
{
    GTEST_SKIP() << "POSIX only: the failing stream is made with fopencookie (glibc)";
}
#endif

}  // namespace
