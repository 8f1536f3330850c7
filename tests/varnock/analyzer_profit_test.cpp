// The realised-profit page: FIFO lots, closings by year and security, open
// positions, trades left out, and the page as XML.  Every expected figure
// is worked out by hand in the comment beside it.

#include "profit.h"
#include "profit_page.h"
#include "records.h"

#include "test_support.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

std::string convert(const std::string &in, const char *from, const char *to)
{
    iconv_t cd = iconv_open(to, from);
    std::string src = in, out(in.size() * 2 + 16, '\0');
    char *ip = src.data(), *op = out.data();
    size_t il = src.size(), ol = out.size();
    EXPECT_NE(iconv(cd, &ip, &il, &op, &ol), (size_t)-1);
    iconv_close(cd);
    out.resize(out.size() - ol);
    return out;
}

// The names of the trades, shared as the import shares them.
trade_store_t names = {};

transaction_t trade(const char *when, int64_t no, const char *stock, int direction, double price, double amount,
                    double fee = 0)
{
    transaction_t t{};
    sscanf(when, "%d.%d.%d %d:%d:%d", &t.d, &t.mo, &t.y, &t.h, &t.mi, &t.s);
    t.no = no;
    t.stock = text_copy(&names.texts, stock);  // shared copies, as the import makes them
    t.ticker = text_copy(&names.texts, "T");
    t.direction = direction;
    t.price = price;
    t.amount = amount;
    t.commission = fee;
    return t;
}

const int B = 1, S = 2;

// The trade on an account (a shared copy, as the import makes it).
transaction_t on(const char *account, transaction_t t)
{
    t.account = text_copy(&names.texts, account);
    return t;
}

// The page's bytes over trades, written through a binary stream.
std::string page_bytes(const std::vector<transaction_t> &trades)
{
    kt_test::TempDir dir;
    FILE *fp = fopen(dir.file("page").c_str(), "wb");
    produce_profit_page(fp, trades.data(), (int)trades.size(), names.ranks);
    fclose(fp);
    return kt_test::read_file(dir.file("page"));
}

// The page over trades, in UTF-8, with the names ranked as a run ranks them.
std::string page(const std::vector<transaction_t> &trades)
{
    rank_texts(&names);
    return convert(page_bytes(trades), "CP1251", "UTF-8");
}

using rows_t = std::vector<std::vector<std::string>>;

// The data rows of the table with that id, each cell's text without tags.
rows_t table(const std::string &html, const std::string &id)
{
    rows_t rows;
    size_t at = html.find("<table id=\"" + id + "\"");
    if (at == std::string::npos)
        return rows;
    size_t end = html.find("</table>", at);
    for (size_t r = html.find("<tr>", at); r < end; r = html.find("<tr>", r + 1)) {
        std::string tr = html.substr(r, html.find("</tr>", r) - r);
        if (tr.find("<th>") != std::string::npos)
            continue;
        rows.emplace_back();
        for (size_t c = tr.find("<td"); c != std::string::npos; c = tr.find("<td", c + 1)) {
            std::string cell = tr.substr(tr.find('>', c) + 1, tr.find("</td>", c) - tr.find('>', c) - 1);
            std::string plain;
            for (size_t k = 0; k < cell.size(); k++) {
                if (cell[k] == '<')
                    k = cell.find('>', k);
                else
                    plain += cell[k];
            }
            rows.back().push_back(plain);
        }
    }
    return rows;
}

TEST(ProfitLots, PartialClosesOverSeveralLotsOldestFirst)
{
    // Lots 100 for 1000 and 50 for 600.  Selling 120 for 1800 closes the
    // first lot (1500 against 1000) and 20 of the second (300 against 240);
    // selling 20 for 220 closes 20 of the 30 left (cost 360 * 20/30 = 240).
    std::string p = page({trade("01.02.2013 10:00:00", 1, "Sber", B, 10, 1000),
                          trade("02.02.2013 10:00:00", 2, "Sber", B, 12, 600),
                          trade("03.02.2013 10:00:00", 3, "Sber", S, 15, 1800),
                          trade("04.02.2013 10:00:00", 4, "Sber", S, 11, 220)});
    EXPECT_EQ(table(p, "y2013"), (rows_t{{"Sber (T)", "140", "2,020.00", "1,480.00", "0.00", "540.00"},
                                         {"Итого", "", "2,020.00", "1,480.00", "0.00", "540.00"}}));
    // 10 shares of the second lot stay open: 120 roubles, 12 a share.
    EXPECT_EQ(table(p, "open"), (rows_t{{"Sber (T)", "10", "12.0000", "120.00", "0.00", "02.02.2013"}}));
    EXPECT_NE(p.find("<font color=\"darkgreen\">540.00</font>"), std::string::npos);
}

TEST(ProfitLots, ASaleBeyondTheLongOpensAShortAndBuysCloseShorts)
{
    // A: 10 bought for 1000 (fee 1); 15 sold for 1650 (fee 3).  The closing
    // of 10: proceeds 1650 * 10/15 = 1100, cost 1000, fees 1 + 2 = 3, result
    // 97; a short of 5 stays open: 550 roubles, fee 1, 110 a share.
    // B: shorts 10 for 500 and 10 for 600; buying 15 for 600 closes the first
    // (500 against 400) and 5 of the second (300 against 200); buying 5 for
    // 350 closes the rest (300 against 350): 20 shares, 1100 against 950.
    std::string p = page({trade("01.03.2013 10:00:00", 1, "A", B, 100, 1000, 1),
                          trade("02.03.2013 10:00:00", 2, "A", S, 110, 1650, 3),
                          trade("10.03.2013 10:00:00", 3, "B", S, 50, 500),
                          trade("11.03.2013 10:00:00", 4, "B", S, 60, 600),
                          trade("12.03.2013 10:00:00", 5, "B", B, 40, 600),
                          trade("13.03.2013 10:00:00", 6, "B", B, 70, 350)});
    EXPECT_EQ(table(p, "y2013"), (rows_t{{"A (T)", "10", "1,100.00", "1,000.00", "3.00", "97.00"},
                                         {"B (T)", "20", "1,100.00", "950.00", "0.00", "150.00"},
                                         {"Итого", "", "2,200.00", "1,950.00", "3.00", "247.00"}}));
    EXPECT_EQ(table(p, "open"), (rows_t{{"A (T)", "-5", "110.0000", "550.00", "1.00", "02.03.2013"}}));
}

TEST(ProfitLots, TheClosingYearGetsTheResultAndFeesSplitInProportion)
{
    // 190 bought on 31 December for 11020 (fee 5), sold on 1 January for
    // 11210 (fee 5): all of it belongs to 2013.
    // 30 bought for 300 (fee 3), sold as 10 for 120 (fee 1.5) and 20 for 260
    // (fee 2): the buy's fee splits 1 and 2, so the fees are 2.5 and 4.
    std::string p = page({trade("31.12.2012 15:00:00", 1, "N", B, 58, 11020, 5),
                          trade("01.01.2013 10:00:00", 2, "N", S, 59, 11210, 5),
                          trade("05.01.2013 10:00:00", 3, "F", B, 10, 300, 3),
                          trade("06.01.2013 10:00:00", 4, "F", S, 12, 120, 1.5),
                          trade("07.01.2013 10:00:00", 5, "F", S, 13, 260, 2)});
    EXPECT_NE(p.find("<h1>Реализованная прибыль за 2012 -- 2013</h1>"), std::string::npos);
    EXPECT_EQ(table(p, "y2012"), rows_t{});
    EXPECT_EQ(table(p, "y2013"), (rows_t{{"F (T)", "30", "380.00", "300.00", "6.50", "73.50"},
                                         {"N (T)", "190", "11,210.00", "11,020.00", "10.00", "180.00"},
                                         {"Итого", "", "11,590.00", "11,320.00", "16.50", "253.50"}}));
    EXPECT_EQ(table(p, "years"), (rows_t{{"2013", "11,590.00", "11,320.00", "16.50", "253.50"},
                                         {"Итого", "11,590.00", "11,320.00", "16.50", "253.50"}}));
    EXPECT_EQ(table(p, "open"), rows_t{});
}

TEST(ProfitLots, RestsBelowAHundredthOfAShareGoIntoTheClosing)
{
    // L: 100.005 shares bought for 1000.05 (fee 1), 100 sold for 1100 (fee
    // 1): the 0.005 left is used up, so cost 1000.05 and fees 2.
    // R: 100 bought for 1000; 100.004 sold for 1100.044: the sale's 0.004 left
    // opens no short, so the proceeds are all 1100.044.
    std::string p = page({trade("01.04.2013 10:00:00", 1, "L", B, 10, 1000.05, 1),
                          trade("02.04.2013 10:00:00", 2, "L", S, 11, 1100, 1),
                          trade("01.04.2013 10:00:00", 3, "R", B, 10, 1000),
                          trade("02.04.2013 10:00:00", 4, "R", S, 11, 1100.044)});
    EXPECT_EQ(table(p, "y2013"), (rows_t{{"L (T)", "100", "1,100.00", "1,000.05", "2.00", "97.95"},
                                         {"R (T)", "100", "1,100.04", "1,000.00", "0.00", "100.04"},
                                         {"Итого", "", "2,200.04", "2,000.05", "2.00", "197.99"}}));
    EXPECT_EQ(table(p, "open"), rows_t{});
}

TEST(ProfitLots, TradesWithoutAPositiveQuantityAreLeftOutAndListed)
{
    // The price-0 buy and the sale of amount 0 take no part: 10 bought for
    // 100 and sold for 120 leave a result of 20.
    std::string p = page({trade("01.05.2013 10:00:00", 1, "Z", B, 10, 100),
                          trade("01.05.2013 11:00:00", 2, "Z", B, 0, 500),
                          trade("01.05.2013 12:00:00", 3, "Z", S, 10, 0),
                          trade("02.05.2013 10:00:00", 4, "Z", S, 12, 120)});
    EXPECT_EQ(table(p, "y2013"), (rows_t{{"Z (T)", "10", "120.00", "100.00", "0.00", "20.00"},
                                         {"Итого", "", "120.00", "100.00", "0.00", "20.00"}}));
    EXPECT_NE(p.find("положительным числом): 2</p>"), std::string::npos);
    EXPECT_EQ(table(p, "skipped"), (rows_t{{"01.05.2013 11:00:00", "Z (T)", "Купля", "500.00"},
                                           {"01.05.2013 12:00:00", "Z (T)", "Продажа", "0.00"}}));
}

TEST(ProfitLots, TimeThenTradeNumberDecideTheLotOrder)
{
    // Two buys in the same second: number 3 (10 at 20) comes before number 9
    // (10 at 10); number 1 (10 at 30) is an hour later.  Selling 10 for 250
    // closes number 3's lot: 250 against 200.  Left open: 20 for 400.
    std::string p = page({trade("01.06.2013 10:00:00", 9, "Q", B, 10, 100),
                          trade("01.06.2013 11:00:00", 1, "Q", B, 30, 300),
                          trade("01.06.2013 10:00:00", 3, "Q", B, 20, 200),
                          trade("01.06.2013 12:00:00", 4, "Q", S, 25, 250)});
    EXPECT_EQ(table(p, "y2013")[0], (std::vector<std::string>{"Q (T)", "10", "250.00", "200.00", "0.00", "50.00"}));
    EXPECT_EQ(table(p, "open"), (rows_t{{"Q (T)", "20", "20.0000", "400.00", "0.00", "01.06.2013"}}));
    // Names that are no shared copies (and so have no rank) give the same page.
    std::vector<transaction_t> unranked = {trade("01.06.2013 10:00:00", 9, "Q", B, 10, 100),
                                           trade("01.06.2013 11:00:00", 1, "Q", B, 30, 300),
                                           trade("01.06.2013 10:00:00", 3, "Q", B, 20, 200),
                                           trade("01.06.2013 12:00:00", 4, "Q", S, 25, 250)};
    char name[] = "Q";
    for (transaction_t &t : unranked)
        t.stock = name;
    std::string q = page(unranked);
    EXPECT_EQ(table(q, "y2013"), table(p, "y2013"));
    EXPECT_EQ(table(q, "open"), table(p, "open"));
}

TEST(ProfitLots, NamesThatDifferInCaseAreTwoSecurities)
{
    // "SBER": sold 10 for 120, bought back for 110 (+10); "Sber": bought 10
    // for 100, sold for 130 (+30).  One security would close 10 for 20
    // first.  "SBER" sorts before "Sber" (B before b).
    std::string p = page({trade("01.07.2013 10:00:00", 1, "Sber", B, 10, 100),
                          trade("01.07.2013 11:00:00", 2, "SBER", S, 12, 120),
                          trade("01.07.2013 12:00:00", 3, "Sber", S, 13, 130),
                          trade("01.07.2013 13:00:00", 4, "SBER", B, 11, 110)});
    EXPECT_EQ(table(p, "y2013"), (rows_t{{"SBER (T)", "10", "120.00", "110.00", "0.00", "10.00"},
                                         {"Sber (T)", "10", "130.00", "100.00", "0.00", "30.00"},
                                         {"Итого", "", "250.00", "210.00", "0.00", "40.00"}}));
}

TEST(ProfitKopecks, CellsRoundHalfAwayFromZeroAsTheirDecimalText)
{
    // 0.285, 1.005 and 2.675 are stored just below their halves, 0.125 is
    // exact: each rounds away from zero as its decimal text does.
    const std::vector<std::pair<double, int64_t>> cases = {
        {0.285, 29}, {-0.285, -29}, {1.005, 101}, {2.675, 268}, {0.125, 13}, {-0.125, -13},
        {0.1 + 0.2, 30}, {771.6, 77160}, {0.004999, 0}, {5876778.14, 587677814}, {1e15, 100000000000000000}};
    for (const auto &[value, kopecks] : cases) {
        int64_t k = -1;
        EXPECT_TRUE(to_kopecks(value, &k)) << value;
        EXPECT_EQ(k, kopecks) << value;
    }
    int64_t k;
    for (double bad : std::initializer_list<double>{NAN, INFINITY, -INFINITY, 1e308, 0x1p62 / 100})
        EXPECT_FALSE(to_kopecks(bad, &k)) << bad;
}

TEST(ProfitKopecks, ThePiecesOfATradeAddUpToItExactly)
{
    // P: 30 bought for 300.00 (fee 1.00), sold as three times 10 for 110.00.
    // The lot's fee goes 33 kopecks (100 * 10/30), then 34 (67 * 10/20 is
    // 33.5), then the 33 left: results 9.67, 9.66, 9.67, in all 29.00.
    // D: 10.004 bought for 100.04 (fee 0.10), sold as 5 and 5 for 60.00
    // (fee 0.05 each).  The first piece costs 50.00 (10004 * 5/10.004) and
    // fee 0.05 of the buy; the 0.004 left after the second is dust, so the
    // second piece takes the rest, 50.04 and 0.05: results 9.90 and 9.86.
    // S: a short of 10 for 150.00 (fee 0.15), bought back as 4 for 48.00 and
    // 6 for 78.00 (fee 0.06): proceeds 60.00 and 90.00, fees 0.06 and
    // 0.09 + 0.06: results 11.94 and 11.85.
    std::vector<transaction_t> trades = {trade("01.02.2013 10:00:00", 1, "P", B, 10, 300, 1),
                                         trade("02.02.2013 10:00:00", 2, "P", S, 11, 110),
                                         trade("03.02.2013 10:00:00", 3, "P", S, 11, 110),
                                         trade("04.02.2013 10:00:00", 4, "P", S, 11, 110),
                                         trade("01.02.2013 10:00:00", 5, "D", B, 10, 100.04, 0.10),
                                         trade("02.02.2013 10:00:00", 6, "D", S, 12, 60, 0.05),
                                         trade("03.02.2013 10:00:00", 7, "D", S, 12, 60, 0.05),
                                         trade("01.03.2013 10:00:00", 8, "S", S, 15, 150, 0.15),
                                         trade("02.03.2013 10:00:00", 9, "S", B, 12, 48),
                                         trade("03.03.2013 10:00:00", 10, "S", B, 13, 78, 0.06)};
    std::string p = page(trades);
    EXPECT_EQ(table(p, "y2013"), (rows_t{{"D (T)", "10", "120.00", "100.04", "0.20", "19.76"},
                                         {"P (T)", "30", "330.00", "300.00", "1.00", "29.00"},
                                         {"S (T)", "10", "150.00", "126.00", "0.21", "23.79"},
                                         {"Итого", "", "600.00", "526.04", "1.41", "72.55"}}));
    EXPECT_EQ(table(p, "open"), rows_t{});
    profit_book_t book = build_profit_book(trades.data(), (int)trades.size(), names.ranks);
    std::vector<int64_t> results, fees, cost;
    std::vector<bool> longs;
    for (const lot_closing_t &c : book.closings) {
        results.push_back(c.result());
        fees.push_back(c.fees);
        cost.push_back(c.cost());
        longs.push_back(c.is_long());
    }
    EXPECT_EQ(results, (std::vector<int64_t>{990, 986, 967, 966, 967, 1194, 1185}));
    EXPECT_EQ(fees, (std::vector<int64_t>{10, 10, 33, 34, 33, 6, 15}));
    EXPECT_EQ(cost, (std::vector<int64_t>{5000, 5004, 10000, 10000, 10000, 4800, 7800}));
    EXPECT_EQ(longs, (std::vector<bool>{true, true, true, true, true, false, false}));
}

TEST(ProfitAccounts, EachAccountClosesOnlyItsOwnLots)
{
    // 10 bought at 100 on A, 10 at 200 on B; selling 10 at 150 on B closes
    // B's lot: -500.00, and A's 10 at 100 stay open.
    std::string p = page({on("A", trade("01.04.2013 10:00:00", 1, "V", B, 100, 1000)),
                          on("B", trade("02.04.2013 10:00:00", 2, "V", B, 200, 2000)),
                          on("B", trade("03.04.2013 10:00:00", 3, "V", S, 150, 1500))});
    EXPECT_EQ(table(p, "y2013"), (rows_t{{"B", "V (T)", "10", "1,500.00", "2,000.00", "0.00", "-500.00"},
                                         {"Итого", "", "", "1,500.00", "2,000.00", "0.00", "-500.00"}}));
    EXPECT_EQ(table(p, "open"), (rows_t{{"A", "V (T)", "10", "100.0000", "1,000.00", "0.00", "01.04.2013"}}));
    EXPECT_EQ(table(p, "years"), (rows_t{{"2013", "1,500.00", "2,000.00", "0.00", "-500.00"},
                                         {"Итого", "1,500.00", "2,000.00", "0.00", "-500.00"},
                                         {"2013 (B)", "1,500.00", "2,000.00", "0.00", "-500.00"}}));
    // The year table and the open positions start with the account.
    EXPECT_NE(p.find("<tr><th>Счет</th>", p.find("<tr><th>Счет</th>") + 1), std::string::npos);
    // With one account the page is the page without accounts.
    std::string one = page({on("A", trade("01.04.2013 10:00:00", 1, "V", B, 100, 1000)),
                            on("A", trade("03.04.2013 10:00:00", 3, "V", S, 150, 1500))});
    std::string none = page({trade("01.04.2013 10:00:00", 1, "V", B, 100, 1000),
                             trade("03.04.2013 10:00:00", 3, "V", S, 150, 1500)});
    EXPECT_EQ(one, none);
}

TEST(ProfitPage, NoFigureIsNanOrInfiniteAndNoByteBreaksTheXml)
{
    // Left out: a fee that is no number, an amount beyond 2^62 kopecks, an
    // infinite amount, and the third buy of 10^16 roubles, which would carry
    // the sums beyond 2^61 kopecks.  "Bad\f\x98" gains 10.00.
    std::string bad = "Bad\f\x98";
    std::vector<transaction_t> trades = {trade("01.05.2013 10:00:00", 1, "N", B, 10, 100, NAN),
                                         trade("01.05.2013 10:00:01", 2, "N", S, 1, 1e308),
                                         trade("01.05.2013 10:00:02", 3, "N", B, 1, INFINITY),
                                         trade("01.05.2013 10:00:03", 4, "H", B, 1e6, 1e16),
                                         trade("01.05.2013 10:00:04", 5, "H", B, 1e6, 1e16),
                                         trade("01.05.2013 10:00:05", 6, "H", B, 1e6, 1e16),
                                         trade("02.05.2013 10:00:00", 7, bad.c_str(), B, 10, 100),
                                         trade("03.05.2013 10:00:00", 8, bad.c_str(), S, 11, 110)};
    std::string p = page(trades);
    EXPECT_NE(p.find("положительным числом): 4</p>"), std::string::npos);
    rows_t skipped = table(p, "skipped");
    ASSERT_EQ(skipped.size(), 4u);
    EXPECT_EQ(skipped[0], (std::vector<std::string>{"01.05.2013 10:00:00", "N (T)", "Купля", "100.00"}));
    EXPECT_EQ(skipped[2], (std::vector<std::string>{"01.05.2013 10:00:02", "N (T)", "Купля", ""}));
    EXPECT_EQ(skipped[3][0], "01.05.2013 10:00:05");
    EXPECT_EQ(table(p, "y2013")[0], (std::vector<std::string>{"Bad?? (T)", "10", "110.00", "100.00", "0.00", "10.00"}));
    for (const char *word : {"nan", "inf", "NAN", "INF"})
        EXPECT_EQ(p.find(word), std::string::npos) << word;
#ifdef _WIN32
    GTEST_SKIP() << "xmllint is a Linux tool";
#endif
    std::string bytes = page_bytes(trades);
    kt_test::TempDir dir;
    kt_test::write_file(dir.file("page.xml"), "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n" +
                                                  bytes.substr(bytes.find('\n') + 1));
    kt_test::ChildResult r = kt_test::run_command(dir.path(), "xmllint --noout page.xml");
    EXPECT_TRUE(r.exited && r.status == 0) << r.err;
}

// The chart's days since 1970: before 1970 they round down, out-of-range
// months and days carry over, and years far beyond tm_year still count.
TEST(ProfitChart, DaysSince1970)
{
    EXPECT_EQ(civil_day(1970, 1, 1), 0);
    EXPECT_EQ(civil_day(1969, 12, 31), -1);
    EXPECT_EQ(civil_day(1968, 1, 1), -731);
    EXPECT_EQ(civil_day(1600, 1, 1), -135140);
    EXPECT_EQ(civil_day(1, 1, 1), -719162);
    EXPECT_EQ(civil_day(2000, 3, 1), 11017);
    EXPECT_EQ(civil_day(2013, 2, 29), civil_day(2013, 3, 1));
    EXPECT_EQ(civil_day(1970, 13, 1), 365);
    EXPECT_EQ(civil_day(1970, 1, 0), -1);
    EXPECT_EQ(civil_day(INT32_MIN, 1, 1) + 146097, civil_day((int64_t)INT32_MIN + 400, 1, 1));
    EXPECT_EQ(civil_day((int64_t)INT32_MAX + 1, 1, 1) - 146097, civil_day((int64_t)INT32_MAX - 399, 1, 1));
}

TEST(ProfitPage, IsWellFormedXmlApartFromTheDocumentType)
{
    // With a second account, whose name the tax table's account rows escape.
    std::vector<transaction_t> trades = {trade("01.02.2012 10:00:00", 1, "AT&T <x>", B, 10, 1000, 1),
                                         trade("03.02.2013 10:00:00", 2, "AT&T <x>", S, 9, 1350, 1),
                                         trade("04.02.2013 10:00:00", 3, "Газпром", B, 0, 10),
                                         on("A&B", trade("05.02.2013 10:00:00", 4, "V", S, 10, 100)),
                                         on("A&B", trade("06.02.2013 10:00:00", 5, "V", B, 9, 90))};
#ifdef _WIN32
    GTEST_SKIP() << "xmllint is a Linux tool";
#endif
    std::string bytes = page_bytes(trades);
    ASSERT_EQ(bytes.rfind("<!DOCTYPE html", 0), 0u);
    kt_test::TempDir dir;
    kt_test::write_file(dir.file("page.xml"), "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n" +
                                                  bytes.substr(bytes.find('\n') + 1));
    kt_test::ChildResult r = kt_test::run_command(dir.path(), "xmllint --noout page.xml");
    EXPECT_TRUE(r.exited && r.status == 0) << r.err;
    std::string p = convert(bytes, "CP1251", "UTF-8");
    EXPECT_NE(p.find("<td>AT&amp;T &lt;x&gt; (T)</td>"), std::string::npos);
    EXPECT_NE(p.find("<td>2013 (A&amp;B)</td>"), std::string::npos);
    EXPECT_NE(p.find("<svg xmlns=\"http://www.w3.org/2000/svg\""), std::string::npos);
    EXPECT_EQ(p.find("<script"), std::string::npos);
}

TEST(ProfitTax, YearsOverAllAccountsWithEachAccountsResultBeneath)
{
    // 2014: A 900 - 1,000 = -100, B 70 - 50 = +20: -80 over both, a loss.
    // 2015: A +50 uses 50 of it; 2016: B +300 uses the other 30, base 270,
    // 13% = 35.10, tax 35.
    std::vector<transaction_t> trades = {
        on("A", trade("01.03.2014 10:00:00", 1, "V", B, 100, 1000)), on("A", trade("02.03.2014 10:00:00", 2, "V", S, 90, 900)),
        on("B", trade("03.03.2014 10:00:00", 3, "W", B, 50, 50)), on("B", trade("04.03.2014 10:00:00", 4, "W", S, 70, 70)),
        on("A", trade("01.03.2015 10:00:00", 5, "V", B, 100, 100)), on("A", trade("02.03.2015 10:00:00", 6, "V", S, 150, 150)),
        on("B", trade("01.03.2016 10:00:00", 7, "W", B, 100, 100)), on("B", trade("02.03.2016 10:00:00", 8, "W", S, 400, 400))};
    std::string p = page(trades);
    EXPECT_EQ(table(p, "tax"), (rows_t{{"2014", "970.00", "1,050.00", "-80.00", "0.00", "0.00", "0"},
                                       {"2014 (A)", "900.00", "1,000.00", "-100.00", "", "", ""},
                                       {"2014 (B)", "70.00", "50.00", "20.00", "", "", ""},
                                       {"2015", "150.00", "100.00", "50.00", "50.00", "0.00", "0"},
                                       {"2015 (A)", "150.00", "100.00", "50.00", "", "", ""},
                                       {"2016", "400.00", "100.00", "300.00", "30.00", "270.00", "35"},
                                       {"2016 (B)", "400.00", "100.00", "300.00", "", "", ""},
                                       {"Итого", "1,520.00", "1,250.00", "270.00", "80.00", "270.00", "35"}}));
    EXPECT_NE(p.find("<th>Доходы (код 1530)</th><th>Расходы (код 201)</th><th>Финансовый результат</th>"
                     "<th>Перенос убытков</th><th>Налоговая база</th><th>Налог (оценка)</th>"),
              std::string::npos);
}

TEST(ProfitJournal, StatisticsMonthsAndChartOfFourClosings)
{
    // +300 (one sale closing two lots: 10 held 20 days, 10 held 10), -100 (a
    // short held 3 days), +200 (5 days), -100 (32 days): the running result
    // 300, 200, 400, 300.  Days held, weighted by shares: winners
    // (200 + 100 + 5) / 21 = 14.52, losers (30 + 32) / 11 = 5.64.
    // The names put the two losses first in the book's order, where the
    // drawdown would read 200.00.
    std::vector<transaction_t> trades = {
        trade("01.02.2024 10:00:00", 1, "D", B, 10, 100), trade("11.02.2024 10:00:00", 2, "D", B, 20, 200),
        trade("21.02.2024 10:00:00", 3, "D", S, 30, 600), trade("01.03.2024 10:00:00", 4, "A", S, 10, 100),
        trade("04.03.2024 10:00:00", 5, "A", B, 20, 200), trade("05.03.2024 10:00:00", 6, "C", B, 100, 100),
        trade("10.03.2024 10:00:00", 7, "C", S, 300, 300), trade("11.03.2024 10:00:00", 8, "B", B, 200, 200),
        trade("12.04.2024 10:00:00", 9, "B", S, 100, 100)};
    std::string p = page(trades);
    rows_t stats = table(p, "stats");
    rows_t expected = {{"Закрытий", "4"}, {"Прибыльных", "2"}, {"Убыточных", "2"}, {"Доля прибыльных", "50.0%"},
                       {"Средняя прибыль", "250.00"}, {"Средний убыток", "-100.00"}, {"Профит-фактор", "2.50"},
                       {"Матожидание на закрытие", "75.00"}, {"Крупнейшая прибыль", "300.00"},
                       {"Крупнейший убыток", "-100.00"}, {"Максимальная просадка", "100.00"},
                       {"Средний срок прибыльных, дней", "14.5"}, {"Средний срок убыточных, дней", "5.6"},
                       {"Длинных закрытий", "3"}, {"Коротких закрытий", "1"}};
    for (auto &row : expected)
        row.push_back(row[1]);  // the year 2024, then all years
    EXPECT_EQ(stats, expected);

    // Months: February +300 (the largest, full green), March -100 + 200 =
    // +100 (a third of the way from white: 255 - 156/3, 255 - 65/3, 255 -
    // 132/3), April -100 (a third of the way to 248, 105, 107).
    EXPECT_EQ(table(p, "months"),
              (rows_t{{"2024", "", "300.00", "100.00", "-100.00", "", "", "", "", "", "", "", "", "300.00"}}));
    EXPECT_NE(p.find("<td></td><td align=\"right\" style=\"background-color:#63be7b\">300.00</td>"
                     "<td align=\"right\" style=\"background-color:#cbe9d3\">100.00</td>"
                     "<td align=\"right\" style=\"background-color:#fdcdce\">-100.00</td><td></td>"),
              std::string::npos);

    // The chart runs from 1 January to 1 May (121 days over 670 points), so
    // the first closing, on day 51, stands at 100 + 51 * 670 / 121 = 382.4;
    // the running result 0 to 400.00 gets ticks 0, 100, ..., 400.
    EXPECT_NE(p.find(" 382.4,"), std::string::npos);
    std::vector<std::string> labels;
    for (size_t at = p.find("text-anchor=\"end\">"); at != std::string::npos;
         at = p.find("text-anchor=\"end\">", at + 1))
        labels.push_back(p.substr(at + 18, p.find('<', at) - at - 18));
    EXPECT_EQ(labels, (std::vector<std::string>{"0", "100", "200", "300", "400"}));

    // The sections in their order.
    size_t last = 0;
    for (const char *part : {"id=\"years\"", "id=\"tax\"", "id=\"stats\"", "id=\"months\"", "<svg", "id=\"y2024\"",
                             "id=\"open\""}) {
        size_t at = p.find(part);
        EXPECT_TRUE(at != std::string::npos && at > last) << part;
        last = at;
    }
}

// One table row of a trade file as the terminal exports it (cp1251 text).
std::string file_row(const char *when, const char *no, const char *order, const std::string &direction,
                     const char *price, const char *amount, const char *account = "L01")
{
    std::vector<std::string> c = {when, no, order, "SBER", "Sber", "MICEX", direction, "T0",
                                  price, amount, "0", "0", "0", "0", "0", account};
    std::string r = "<tr>";
    for (auto &t : c)
        r += "<td>" + t + "</td>";
    return r + "</tr>\n";
}

TEST(ProfitPage, ARunTakesEachFillOnceBeforeConsolidation)
{
    // One order filled as 10 at 20 (10:00:00) and 10 at 10 (10:00:05), the
    // first fill read from both files; selling 10 for 250 closes the first
    // fill: 250 against 200 (the order's average would make it 150).
    std::string buy = convert("Купля", "UTF-8", "CP1251"), sale = convert("Продажа", "UTF-8", "CP1251");
    std::string first = file_row("03.06.2013 10:00:00", "1", "70", buy, "20", "200");
    kt_test::TempDir dir;
    kt_test::write_file(dir.file("sdelki_1.xls"), "<table>\n" + first + "</table>\n");
    kt_test::write_file(dir.file("sdelki_2.xls"),
                        "<table>\n" + first + file_row("03.06.2013 10:00:05", "2", "70", buy, "10", "100") +
                            file_row("04.06.2013 10:00:00", "3", "71", sale, "25", "250") + "</table>\n");
    kt_test::ChildResult r = kt_test::run_command(dir.path(), VARNOCK_PATH);
    ASSERT_TRUE(r.exited && r.status == 0) << r.err;
    std::string p = convert(kt_test::read_file(dir.file("profit.html")), "CP1251", "UTF-8");
    EXPECT_EQ(table(p, "y2013")[0], (std::vector<std::string>{"Sber (SBER)", "10", "250.00", "200.00", "0.00", "50.00"}));
    EXPECT_EQ(table(p, "open"), (rows_t{{"Sber (SBER)", "10", "10.0000", "100.00", "0.00", "03.06.2013"}}));
}

TEST(ProfitPage, ARunReadsEachFilesAccountFromItsHeader)
{
    // The example of two accounts, from two files whose headers name the
    // account column: -500.00 on B, 10 at 100 open on A; a file without the
    // header puts its trade on no account.
    std::string buy = convert("Купля", "UTF-8", "CP1251"), sale = convert("Продажа", "UTF-8", "CP1251");
    std::string head15;
    for (int k = 0; k < 15; k++)
        head15 += "<th>h</th>";
    head15 = "<tr>" + head15 + convert("<th>Счёт</th>", "UTF-8", "CP1251") + "</tr>\n";
    kt_test::TempDir dir;
    kt_test::write_file(dir.file("sdelki_a.xls"),
                        "<table>\n" + head15 + file_row("01.04.2013 10:00:00", "1", "1", buy, "100", "1000", "A") +
                            "</table>\n");
    kt_test::write_file(dir.file("sdelki_b.xls"),
                        "<table>\n" + head15 + file_row("02.04.2013 10:00:00", "2", "2", buy, "200", "2000", "B") +
                            file_row("03.04.2013 10:00:00", "3", "3", sale, "150", "1500", "B") + "</table>\n");
    kt_test::write_file(dir.file("sdelki_c.xls"),
                        "<table>\n" + file_row("04.04.2013 10:00:00", "4", "4", buy, "10", "100", "C") + "</table>\n");
    kt_test::ChildResult r = kt_test::run_command(dir.path(), VARNOCK_PATH);
    ASSERT_TRUE(r.exited && r.status == 0) << r.err;
    std::string p = convert(kt_test::read_file(dir.file("profit.html")), "CP1251", "UTF-8");
    EXPECT_EQ(table(p, "y2013")[0], (std::vector<std::string>{"B", "Sber (SBER)", "10", "1,500.00", "2,000.00", "0.00",
                                                              "-500.00"}));
    EXPECT_EQ(table(p, "open"), (rows_t{{"", "Sber (SBER)", "10", "10.0000", "100.00", "0.00", "04.04.2013"},
                                        {"A", "Sber (SBER)", "10", "100.0000", "1,000.00", "0.00", "01.04.2013"}}));
}

}  // namespace
