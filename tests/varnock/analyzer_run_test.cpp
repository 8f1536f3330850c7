// Whole runs of the built program in fresh directories on hand-made trade
// files; every output is compared byte for byte.

#include <gtest/gtest.h>

#include "test_support.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

using kt_test::cp1251;

namespace {

const std::string buy = cp1251("Купля");
const std::string sale = cp1251("Продажа");
const std::string sber = cp1251("Сбербанк");

std::string row(const std::string &date, const std::string &no, const std::string &order, const std::string &ticker,
                const std::string &stock, const std::string &direction, const std::string &price,
                const std::string &amount, const std::string &fee)
{
    std::vector<std::string> c = {date, no, order, ticker, stock, "MICEX", direction, "T0",
                                  price, amount, fee, "0", "", "0", "0", "L01"};
    std::string r = "<tr>";
    for (auto &t : c)
        r += "<td align=right>" + t + "</td>";
    return r + "</tr>\n";
}

const std::string header_row = "<tr><th>Date</th><th>No</th></tr>";

struct TradeDir {
    kt_test::TempDir dir;
    kt_test::ChildResult result;

    void put(const std::string &name, const std::string &bytes) { kt_test::write_file(dir.file(name), bytes); }
    std::string get(const std::string &name) { return kt_test::read_text_file(dir.file(name)); }
    bool has(const std::string &name) { return kt_test::file_exists(dir.file(name)); }
    void run(const std::string &args = "") { result = kt_test::run_command(dir.path(), std::string(VARNOCK_PATH) + args); }
};

// The footer's time of writing and identification line vary; cut them out.
std::string without_footer_time(const std::string &page)
{
    std::string mark = cp1251("Отчет сформирован ");
    size_t at = page.find(mark);
    size_t end = page.find("</p>\n", at);
    if (at == std::string::npos || end == std::string::npos)
        return page;
    return page.substr(0, at + mark.size()) + "..." + page.substr(end);
}

TEST(Run, ACompleteRunWritesEveryFileAndConsoleLine)
{
    TradeDir r;
    std::string file = "<html><table>\n" + header_row + "\n" +
                       row("05.03.2013 10:00:00", "101", "7001", "GAZP", "Gazprom", buy, "100", "1 000.00", "1") +
                       row("05.03.2013 10:00:05", "102", "7001", "GAZP", "Gazprom", buy, "104", "3 120.00", "2") +
                       row("05.03.2013 10:00:00", "101", "7001", "GAZP", "Gazprom", buy, "100", "1 000.00", "1") +
                       row("2013-03-06 11:00:00", "105", "7009", "GAZP", "Gazprom", buy, "1", "1", "0") +
                       row("06.03.2013 11:00:00", "103", "7002", "GAZP", "Gazprom", sale, "110", "4 400.00", "4") +
                       row("06.03.2013 11:00:01", "106", "7010", "GAZP", "Gazprom", "Repo", "1", "1", "0") +
                       row("10.01.2014 12:00:00", "104", "7003", "SBER", sber, buy, "50", "500", "0.5") +
                       "</table></html>\n";
    r.put("sdelki_a.xls", file);
    r.put("notes.txt", row("05.03.2013 10:00:00", "1", "1", "X", "X", buy, "1", "1", "0"));
    r.run();
    EXPECT_EQ(r.result.status, 0);
    EXPECT_EQ(r.result.out, "");
    EXPECT_EQ(r.result.err, "reading sdelki_a.xls...\n"
                            "warning: 2 trade rows rejected, see garbage.txt\n"
                            "5 transactions imported\n"
                            "4 unique transactions\n"
                            "Spent:  4,620\n"
                            "Gained: 4,400\n"
                            "Volume: 9,020\n"
                            "Comms:  7\n"
                            "3 orders\n"
                            "success\n");
    EXPECT_EQ(r.get("imported.txt"),
              "05.03.2013 10:00:00            7001      Gazprom 1  100.00000        1000.000 1.000\n"
              "05.03.2013 10:00:05            7001      Gazprom 1  104.00000        3120.000 2.000\n"
              "05.03.2013 10:00:00            7001      Gazprom 1  100.00000        1000.000 1.000\n"
              "06.03.2013 11:00:00            7002      Gazprom 2  110.00000        4400.000 4.000\n"
              "10.01.2014 12:00:00            7003     " + sber + " 1   50.00000         500.000 0.500\n");
    auto garbage_row = [&](const std::string &text) {
        return text.substr(4, text.size() - 4 - 6);   // without "<tr>" and "</tr>\n"
    };
    EXPECT_EQ(r.get("garbage.txt"),
              "-1| <th>Date</th><th>No</th>\n"
              "-2| " + garbage_row(row("2013-03-06 11:00:00", "105", "7009", "GAZP", "Gazprom", buy, "1", "1", "0")) +
              "\n-4| " + garbage_row(row("06.03.2013 11:00:01", "106", "7010", "GAZP", "Gazprom", "Repo", "1", "1", "0")) +
              "\n");
    EXPECT_EQ(r.get("orders.txt"),
              "05.03.2013 10:00:00            7001      Gazprom 1  103.00000        4120.000 3.000\n"
              "06.03.2013 11:00:00            7002      Gazprom 2  110.00000        4400.000 4.000\n"
              "10.01.2014 12:00:00            7003     " + sber + " 1   50.00000         500.000 0.500\n");
    EXPECT_TRUE(r.has("report-2013.html"));
    EXPECT_FALSE(r.has("report-2012.html"));
    EXPECT_EQ(without_footer_time(r.get("report-2014.html")),
              cp1251("<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
                     "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\n"
                     "<html>\n<head>\n"
                     "<meta http-equiv=\"content-type\" content=\"text/html; charset=Windows-1251\" />\n"
                     "<title>Отчет по сделкам</title>\n</head>\n<body>\n"
                     "<h1>Статистика за 2014</h1>\n"
                     "<h2>Акция ") + sber + cp1251(" (SBER)</h2>\n"
                     "<p><table border=1 cellspacing=0 cellpadding=5>\n"
                     "<tr><th>Дата и время</th><th>Цена</th><th>Количество</th><th>Покупка</th>"
                     "<th>Продажа</th><th>Прибыль</th></tr>\n"
                     "<tr><td>10.01.2014 12:00:00</td><td align=right>50.0000</td><td align=right>10</td>"
                     "<td align=right>500.00</td><td></td><td></td></tr></table></p>\n"
                     "Баланс по бумагам: <b>10</b> шт., по деньгам: <b><font color=red>-500.50</font></b> руб., "
                     "оборот <b>500.00</b> руб., комиссия <b>0.50</b> руб.\n"
                     "<p><table border=0 cellpadding=2>\n"
                     "<tr><td>Сделок всего:</td> <td align=right>1</td></tr>\n"
                     "<tr><td>Оборот:</td> <td align=right>500.00</td></tr>\n"
                     "<tr><td>Результат:</td> <td align=right><font color=red>-500.50</font></td></tr>\n"
                     "<tr><td>Комиссия:</td> <td align=right>0.50</td></tr>\n"
                     "</table></p>\n"
                     "<hr>\n<p>Отчет сформирован ...</p>\n</body>\n</html>\n"));
    std::string all = r.get("report.html");
    EXPECT_NE(all.find(cp1251("<h1>Статистика за 2013 -- 2014</h1>\n")), std::string::npos);
    // The sale of all 40 units under their purchase: 4400 - 4120.
    EXPECT_NE(all.find("<td></td><td align=right>4,400.00</td><td align=right><font color=darkgreen>280.00</font></td></tr>"),
              std::string::npos);
}

TEST(Run, OverlappingFilesCountEachTradeOnce)
{
    TradeDir r;
    std::string a = row("05.03.2013 10:00:00", "1", "11", "A", "Alpha", buy, "10", "100", "0.1") +
                    row("05.03.2013 11:00:00", "2", "12", "A", "Alpha", buy, "20", "100", "0.1");
    std::string b = row("05.03.2013 11:00:00", "2", "12", "A", "Alpha", buy, "20", "100", "0.1") +
                    row("05.03.2013 12:00:00", "3", "13", "A", "Alpha", sale, "25", "375", "0.1");
    r.put("sdelki_1.xls", a);
    r.put("SDELKI_2.XLS", b);
    r.put("my_sdelki.xls", a);
    r.put("sdelki_empty.xls", "");
    r.run();
    EXPECT_EQ(r.result.status, 0);
    const std::string tail = "4 transactions imported\n3 unique transactions\nSpent:  200\nGained: 375\n"
                             "Volume: 575\nComms:  0\n2 orders\nsuccess\n";
    ASSERT_GE(r.result.err.size(), tail.size());
    EXPECT_EQ(r.result.err.substr(r.result.err.size() - tail.size()), tail);
    for (const char *name : {"sdelki_1.xls", "SDELKI_2.XLS", "sdelki_empty.xls"})
        EXPECT_NE(r.result.err.find(std::string("reading ") + name + "...\n"), std::string::npos) << name;
    EXPECT_EQ(r.result.err.find("my_sdelki"), std::string::npos);
    // 10 units at 10 and 5 units at 20 bought from two orders on one day.
    EXPECT_EQ(r.get("orders.txt"),
              "05.03.2013 10:00:00              11        Alpha 1   13.33333         200.000 0.200\n"
              "05.03.2013 12:00:00              13        Alpha 2   25.00000         375.000 0.100\n");
}

// Files read ahead on a second thread: each file's messages, imported lines
// and rejected rows stay together and in listing order, whatever the number
// of threads, with warnings, rejected rows and a file that cannot be read.
TEST(Run, FilesReadAheadKeepTheirOrderAndMessages)
{
    auto body = [](const std::string &r) { return r.substr(4, r.size() - 4 - 6); };
    std::string bad_direction = row("05.03.2013 10:30:00", "9", "19", "A", "Alpha", "Repo", "1", "1", "0");
    std::string bad_date = row("2013-03-10 15:00:00", "6", "16", "A", "Alpha", buy, "1", "1", "0");
    struct expected_file {
        std::string bytes, console, imported, garbage;
    };
    std::map<std::string, expected_file> files = {
        {"sdelki_a.xls",
         {"<table>\n" + header_row + "\n" + row("05.03.2013 10:00:00", "1", "11", "A", "Alpha", buy, "10", "100", "0.1") +
              bad_direction + "</table>\n",
          "reading sdelki_a.xls...\n",
          "05.03.2013 10:00:00              11        Alpha 1   10.00000         100.000 0.100\n",
          "-1| <th>Date</th><th>No</th>\n-4| " + body(bad_direction) + "\n"}},
        {"sdelki_b.xls",
         {row("06.03.2013 11:00:00", "2", "12", "B", "Beta", sale, "20", "200", "0.2") +
              row("07.03.2013 12:00:00", "3", "13", "A", "Alpha", sale, "12.5", "125", "0") + "<tr><td>cut",
          "reading sdelki_b.xls...\n"
          "warning: sdelki_b.xls: the last table row is not closed; it was not read\n"
          "warning: sdelki_b.xls: the table does not end; the file may be cut\n",
          "06.03.2013 11:00:00              12         Beta 2   20.00000         200.000 0.200\n"
          "07.03.2013 12:00:00              13        Alpha 2   12.50000         125.000 0.000\n",
          ""}},
        {"sdelki_c.xls",
         {row("08.03.2013 13:00:00", "4", "14", "B", "Beta", buy, "5", "50", "1") + std::string(1, '\0') +
              row("09.03.2013 14:00:00", "5", "15", "A", "Alpha", buy, "1", "1", "0") + "</table>\n",
          "reading sdelki_c.xls...\nwarning: sdelki_c.xls: text after a NUL byte was not read\n",
          "08.03.2013 13:00:00              14         Beta 1    5.00000          50.000 1.000\n", ""}},
        {"sdelki_d.xls",
         {std::string("PK\x03\x04", 4) + "workbook",
          "reading sdelki_d.xls...\nwarning: cannot read sdelki_d.xls (Excel workbook, not a web page)\n", "", ""}},
        {"sdelki_e.xls",
         {bad_date + "</table>\n", "reading sdelki_e.xls...\nwarning: no trades in sdelki_e.xls\n", "",
          "-2| " + body(bad_date) + "\n"}},
    };
    TradeDir r;
    for (auto &[name, f] : files)
        r.put(name, f.bytes);
    std::string console, imported, garbage;
    DIR *dir = opendir(r.dir.path().c_str());
    ASSERT_NE(dir, nullptr);
    while (struct dirent *e = readdir(dir)) {
        auto f = files.find(e->d_name);
        if (f == files.end())
            continue;
        console += f->second.console;
        imported += f->second.imported;
        garbage += f->second.garbage;
    }
    closedir(dir);
    console += "warning: 2 trade rows rejected, see garbage.txt\n4 transactions imported\n";
    for (const char *threads : {"1", "2", "3"}) {
        setenv("VARNOCK_THREADS", threads, 1);
        r.run();
        unsetenv("VARNOCK_THREADS");
        EXPECT_EQ(r.result.status, 0) << threads;
        EXPECT_EQ(r.result.err.substr(0, console.size()), console) << threads;
        EXPECT_EQ(r.get("imported.txt"), imported) << threads;
        EXPECT_EQ(r.get("garbage.txt"), garbage) << threads;
    }
}

TEST(Run, NothingToImportStopsTheRun)
{
    TradeDir none;
    none.run();
    EXPECT_EQ(none.result.status, 1);
    EXPECT_EQ(none.result.err, "no transactions were found\n");
    EXPECT_TRUE(none.has("imported.txt"));
    EXPECT_EQ(none.get("imported.txt"), "");
    EXPECT_EQ(none.get("garbage.txt"), "");
    EXPECT_FALSE(none.has("orders.txt"));

    TradeDir headers;
    headers.put("sdelki.xls", "<table>" + header_row + "\n" + header_row + "</table>");
    headers.run();
    EXPECT_EQ(headers.result.status, 1);
    EXPECT_EQ(headers.result.err, "reading sdelki.xls...\nwarning: no trades in sdelki.xls\nno transactions were found\n");
    EXPECT_EQ(headers.get("imported.txt"), "");
    EXPECT_EQ(headers.get("garbage.txt"), "-1| <th>Date</th><th>No</th>\n-1| <th>Date</th><th>No</th>\n");
}

TEST(Run, MismatchedFillsOfAnOrderStopBeforeAnyOutput)
{
    TradeDir stock;
    stock.put("sdelki.xls", row("05.03.2013 10:00:00", "1", "11", "A", "Alpha", buy, "10", "100", "0") +
                                row("05.03.2013 10:00:01", "2", "11", "B", "Beta", buy, "10", "100", "0"));
    stock.run();
    EXPECT_EQ(stock.result.status, 1);
    EXPECT_EQ(stock.result.err.substr(stock.result.err.rfind("Comms:")),
              "Comms:  0\ninternal error, stock does not match\n");
    EXPECT_EQ(stock.get("imported.txt"),
              "05.03.2013 10:00:00              11        Alpha 1   10.00000         100.000 0.000\n"
              "05.03.2013 10:00:01              11         Beta 1   10.00000         100.000 0.000\n");
    EXPECT_FALSE(stock.has("orders.txt"));
    EXPECT_FALSE(stock.has("report.html"));

    TradeDir direction;
    direction.put("sdelki.xls", row("05.03.2013 10:00:00", "1", "11", "A", "Alpha", buy, "10", "100", "0") +
                                    row("05.03.2013 10:00:01", "2", "11", "A", "Alpha", sale, "10", "100", "0"));
    direction.run();
    EXPECT_EQ(direction.result.status, 1);
    EXPECT_EQ(direction.result.err.substr(direction.result.err.rfind('\n', direction.result.err.size() - 2) + 1),
              "internal error, direction does not match\n");
}

TEST(Run, AnUnwritableOutputEndsTheRunAndKeepsEarlierFiles)
{
    std::string trades = row("05.03.2013 10:00:00", "1", "11", "A", "Alpha", buy, "10", "100", "0");
    const std::string line = "05.03.2013 10:00:00              11        Alpha 1   10.00000         100.000 0.000\n";
#ifdef _WIN32
    const std::string is_a_directory = "Permission denied";  // Windows' reason for a directory
#else
    const std::string is_a_directory = "Is a directory";
#endif

    TradeDir orders;
    orders.put("sdelki.xls", trades);
    mkdir(orders.dir.file("orders.txt").c_str(), 0755);
    orders.run();
    EXPECT_EQ(orders.result.status, 1);
    EXPECT_EQ(orders.result.err.substr(orders.result.err.find("1 orders\n")),
              "1 orders\ncannot open orders.txt in mode \"w\" (" + is_a_directory + ")\n");
    EXPECT_EQ(orders.get("imported.txt"), line);
    EXPECT_FALSE(orders.has("report.html"));

    TradeDir report;
    report.put("sdelki.xls", trades);
    mkdir(report.dir.file("report-2013.html").c_str(), 0755);
    report.run();
    EXPECT_EQ(report.result.status, 1);
    EXPECT_EQ(report.result.err.substr(report.result.err.find("1 orders\n")),
              "1 orders\ncannot open report-2013.html in mode \"w\" (" + is_a_directory + ")\n");
    EXPECT_EQ(report.get("orders.txt"), line);
    EXPECT_FALSE(report.has("report.html"));
}

TEST(Run, JunkBytesAreRejectedOrIgnored)
{
    TradeDir r;
    std::string good = row("05.03.2013 10:00:00", "1", "11", "A", "Alpha", buy, "10", "100", "0");
    std::string wide;
    for (int i = 0; i < 10000; i++)
        wide += "<td>1</td>";
    std::string junk = "\x01\x02\xff<td<<>><t\r\n</td></td>>";
    r.put("sdelki.xls", junk + good + junk + "<tr>" + wide + "</tr>" + junk + "<tr><td>unterminated" +
                            std::string(1, '\0') + good);
    r.put("sdelki_tail.xls", "<tr>" + good.substr(4, good.size() - 4 - 6) + "<td>no row end");
    r.run();
    EXPECT_EQ(r.result.status, 0);
    EXPECT_EQ(r.get("imported.txt"),
              "05.03.2013 10:00:00              11        Alpha 1   10.00000         100.000 0.000\n");
    EXPECT_TRUE(r.get("garbage.txt") == "-1| " + wide + "\n");
}

TEST(Run, MoreRowsThanTheInitialCapacity)
{
    // 20000 trades of one security on one day, buys and sales alternating,
    // each its own order: nothing folds.
    const int rows = 20000;
    TradeDir r;
    std::string file, expected;
    char date[32], no[32], line[160];
    for (int i = 0; i < rows; i++) {
        snprintf(date, sizeof date, "05.03.2013 %02d:%02d:%02d", 10 + i / 3600, i / 60 % 60, i % 60);
        snprintf(no, sizeof no, "%d", 100000 + i);
        file += row(date, no, no, "A", "Alpha", i % 2 ? sale : buy, "1", "10", "0");
        snprintf(line, sizeof line, "%s %15s %12s %1d %10.5f %15.3f %5.3f\n", date, no, "Alpha", 1 + i % 2, 1.0,
                 10.0, 0.0);
        expected += line;
    }
    r.put("sdelki.xls", "<table>" + file + "</table>");
    r.run();
    EXPECT_EQ(r.result.status, 0);
    EXPECT_EQ(r.result.err, "reading sdelki.xls...\n20000 transactions imported\n20000 unique transactions\n"
                            "Spent:  100,000\nGained: 100,000\nVolume: 200,000\nComms:  0\n20000 orders\nsuccess\n");
    EXPECT_TRUE(r.get("imported.txt") == expected);
    EXPECT_TRUE(r.get("orders.txt") == expected);
}

}  // namespace

namespace {

// Started with standard descriptors closed, the run must not give their
// numbers to its files: the console lines would land in "imported.txt".
TEST(Run, ClosedStandardDescriptorsDoNotCatchTheOutputs)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: a shell that starts the program with descriptors closed";
#else
    const std::string line = "05.03.2013 10:00:00              11        Alpha 1   10.00000         100.000 0.000\n";
    for (std::string closed : {" 2>&-", " 0<&- 1>&- 2>&-", " 1>&-", " 0<&-"}) {
        TradeDir d;
        d.put("sdelki.xls", row("05.03.2013 10:00:00", "1", "11", "A", "Alpha", buy, "10", "100", "0"));
        d.run(closed);
        EXPECT_EQ(d.result.status, 0) << closed;
        EXPECT_EQ(d.get("imported.txt"), line) << closed;
        EXPECT_EQ(d.get("garbage.txt"), "") << closed;
        EXPECT_EQ(d.get("orders.txt"), line) << closed;
    }
#endif
}

}  // namespace
