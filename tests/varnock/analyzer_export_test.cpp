// The spreadsheet exports: the exact bytes of trades.csv and lots.csv for a
// few trades whose every field was worked out by hand.

#include "csv_export.h"
#include "profit.h"
#include "records.h"

#include "test_support.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <vector>

namespace {

std::string to_utf8(const std::string &in)
{
    iconv_t cd = iconv_open("UTF-8", "CP1251");
    std::string src = in, out(in.size() * 3 + 16, '\0');
    char *ip = src.data(), *op = out.data();
    size_t il = src.size(), ol = out.size();
    EXPECT_NE(iconv(cd, &ip, &il, &op, &ol), (size_t)-1);
    iconv_close(cd);
    out.resize(out.size() - ol);
    return out;
}

trade_store_t names = {};

transaction_t trade(const char *when, int64_t no, int64_t order, const std::string &stock, int direction,
                    double price, double amount, double fee)
{
    transaction_t t{};
    sscanf(when, "%d.%d.%d %d:%d:%d", &t.d, &t.mo, &t.y, &t.h, &t.mi, &t.s);
    t.no = no;
    t.order = order;
    t.ticker = text_copy(&names.texts, "GAZP");
    t.stock = text_copy(&names.texts, stock.c_str());
    t.account = text_copy(&names.texts, "L;01");
    t.direction = direction;
    t.price = price;
    t.amount = amount;
    t.commission = fee;
    return t;
}

template <typename Write>
std::string written(Write write)
{
    kt_test::TempDir dir;
    FILE *fp = fopen(dir.file("csv").c_str(), "wb");
    write(fp);
    fclose(fp);
    return kt_test::read_file(dir.file("csv"));
}

TEST(Exports, TradesAndLotsForASpreadsheet)
{
    // 10 bought at 150.50 for 1505.00 (fee 1.50), 5 sold a day later at
    // 160.25 for 801.25 (fee 0.80): the piece costs 752.50 with 0.75 of the
    // buy's fee, so fees 1.55 and result 801.25 - 752.50 - 1.55 = 47.20,
    // held one day.  The price-0 buy has no quantity and is left out.  The
    // account and the name hold ";" and '"', so they are quoted; the left-out
    // trade's name holds every high byte of Windows-1251.
    std::string gas = "\xC3\xE0\xE7 \"\xCF\xF0\xEE\xEC\"";   // Газ "Пром"
    std::string high;
    for (int c = 0x80; c <= 0xFF; c++)
        high += (char)c;
    std::vector<transaction_t> trades = {trade("06.03.2013 11:30:05", 12, 8, gas, 2, 160.25, 801.25, 0.8),
                                         trade("05.03.2013 10:00:00", 11, 7, gas, 1, 150.5, 1505, 1.5),
                                         trade("06.03.2013 12:00:00", 13, 9, high, 1, 0, 10, 0)};
    rank_texts(&names);
    profit_book_t book = build_profit_book(trades.data(), (int)trades.size(), names.ranks);
    std::string bom = "\xEF\xBB\xBF", quoted_gas = "\"Газ \"\"Пром\"\"\"";
    std::string high_utf8 = to_utf8(high.substr(0, 0x18)) + "?" + to_utf8(high.substr(0x19));
    EXPECT_EQ(written([&](FILE *fp) { write_trades_csv(fp, trades.data(), (int)trades.size(), book); }),
              bom + "Дата и время;№ сделки;№ заявки;Счет;Код;Бумага;Операция;Цена;Количество;Сумма;Комиссия;"
                    "В расчете\r\n"
                    "05.03.2013 10:00:00;11;7;\"L;01\";GAZP;" + quoted_gas + ";Купля;150,5;10;1505,00;1,50;да\r\n"
                    "06.03.2013 11:30:05;12;8;\"L;01\";GAZP;" + quoted_gas + ";Продажа;160,25;5;801,25;0,80;да\r\n"
                    "06.03.2013 12:00:00;13;9;\"L;01\";GAZP;" + high_utf8 + ";Купля;0;;10,00;0,00;нет\r\n");
    EXPECT_EQ(written([&](FILE *fp) { write_lots_csv(fp, book); }),
              bom + "Счет;Код;Бумага;Позиция;Дата открытия;Сделка открытия;Дата закрытия;Сделка закрытия;"
                    "Количество;Сумма открытия;Сумма закрытия;Комиссия;Результат;Дней;Год\r\n"
                    "\"L;01\";GAZP;" + quoted_gas + ";длинная;05.03.2013 10:00:00;11;06.03.2013 11:30:05;12;5;"
                    "752,50;801,25;1,55;47,20;1;2013\r\n");
}

}  // namespace
