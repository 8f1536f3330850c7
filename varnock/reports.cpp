// The report pages: report-<year>.html for every year and report.html over
// all of them.

#include "reports.h"

#include "consolidation.h"
#include "money_text.h"
#include "output.h"

#include "keltools.h"

#include <algorithm>
#include <cmath>

#ifndef VARNOCK_VERSION
#error "VARNOCK_VERSION comes from the build (the project version)"
#endif

// The pages are XHTML in Windows-1251; stock names and tickers are copied
// without escaping.  The Russian words of the pages, as cp1251 bytes (the
// words the profit page shares stand in reports.h):
static const char ru_report_title[] = "\xCE\xF2\xF7\xE5\xF2 \xEF\xEE \xF1\xE4\xE5\xEB\xEA\xE0\xEC";   // Отчет по сделкам
static const char ru_statistics_for[] = "\xD1\xF2\xE0\xF2\xE8\xF1\xF2\xE8\xEA\xE0 \xE7\xE0";   // Статистика за
static const char ru_price[] = "\xD6\xE5\xED\xE0";                                              // Цена
static const char ru_purchase[] = "\xCF\xEE\xEA\xF3\xEF\xEA\xE0";                               // Покупка
static const char ru_sale[] = "\xCF\xF0\xEE\xE4\xE0\xE6\xE0";                                   // Продажа
static const char ru_profit[] = "\xCF\xF0\xE8\xE1\xFB\xEB\xFC";                                 // Прибыль
static const char ru_share_balance[] = "\xC1\xE0\xEB\xE0\xED\xF1 \xEF\xEE \xE1\xF3\xEC\xE0\xE3\xE0\xEC:";   // Баланс по бумагам:
static const char ru_pieces[] = "\xF8\xF2.";                                                    // шт.
static const char ru_by_money[] = "\xEF\xEE \xE4\xE5\xED\xFC\xE3\xE0\xEC:";                     // по деньгам:
static const char ru_roubles[] = "\xF0\xF3\xE1.";                                               // руб.
static const char ru_turnover_lc[] = "\xEE\xE1\xEE\xF0\xEE\xF2";                                // оборот
static const char ru_commission_lc[] = "\xEA\xEE\xEC\xE8\xF1\xF1\xE8\xFF";                      // комиссия
static const char ru_trades_total[] = "\xD1\xE4\xE5\xEB\xEE\xEA \xE2\xF1\xE5\xE3\xEE:";         // Сделок всего:
static const char ru_turnover[] = "\xCE\xE1\xEE\xF0\xEE\xF2:";                                  // Оборот:
static const char ru_result[] = "\xD0\xE5\xE7\xF3\xEB\xFC\xF2\xE0\xF2:";                        // Результат:
static const char ru_commission[] = "\xCA\xEE\xEC\xE8\xF1\xF1\xE8\xFF:";                        // Комиссия:

// The "<tr>" to "</tr>" of one trade, composed whole and written at once (a
// section has one row per trade, so this is the hot path); prev is the record
// listed above it in the same section, or null for the section's first row.
static void write_trade_row(FILE *fp, const transaction_t *t, const transaction_t *prev)
{
    char row[4096];   // the longest texts: 6 x 11 date digits, 330 price, 330 + 2 x 460 money
    char *o = put_literal(row, "<tr><td>");
    o = put_date_time(o, t);
    o = put_literal(o, "</td><td align=right>");
    o = put_fixed(o, t->price, 4, 0);
    o = put_literal(o, "</td><td align=right>");
    double quantity = t->amount / t->price;
    o = put_string(o, stn(quantity));
    if (t->direction == 1)
        o = put_literal(o, "</td><td align=right>");
    else
        o = put_literal(o, "</td><td></td><td align=right>");
    o = put_string(o, stf(t->amount, 0));
    if (t->direction == 1)
        o = put_literal(o, "</td><td></td>");
    else
        o = put_literal(o, "</td>");
    // A sale directly under a buy of the same size shows what it brought in
    // over what the buy cost (fees not deducted).
    if (prev && t->direction == 2 && prev->direction == 1 &&
        fabs(quantity - prev->amount / prev->price) < 0.01) {
        o = put_literal(o, "<td align=right>");
        o = put_string(o, stf(t->amount - prev->amount, 1));
        o = put_literal(o, "</td></tr>");
    } else {
        o = put_literal(o, "<td></td></tr>");
    }
    write_bytes(fp, row, (size_t)(o - row));
}

void produce_stock_report(FILE *fp, transaction_t *T, int nt)
{
    double buy = 0, sell = 0, quant = 0, comm = 0;
    for (int i = 0; i < nt; i++) {
        if (T[i].direction == 1) {
            buy += T[i].amount;
            quant += T[i].amount / T[i].price;
        } else if (T[i].direction == 2) {
            sell += T[i].amount;
            quant -= T[i].amount / T[i].price;
        }
        comm += T[i].commission;
    }
    write_texts(fp, "<h2>", ru_share, " ", T[0].stock, " (", T[0].ticker, ")</h2>\n");
    write_texts(fp, "<p><table border=1 cellspacing=0 cellpadding=5>\n<tr><th>", ru_date_time, "</th><th>",
                ru_price, "</th><th>", ru_quantity, "</th><th>", ru_purchase, "</th><th>", ru_sale, "</th><th>",
                ru_profit, "</th></tr>\n");
    for (int i = 0; i < nt; i++)
        write_trade_row(fp, &T[i], i > 0 ? &T[i - 1] : nullptr);
    write_texts(fp, "</table></p>\n", ru_share_balance, " <b>", stn(quant), "</b> ", ru_pieces, ", ");
    write_texts(fp, ru_by_money, " <b>", stf(sell - buy - comm, 1), "</b> ", ru_roubles, ", ", ru_turnover_lc,
                " <b>", stf(sell + buy, 0), "</b> ", ru_roubles, ", ", ru_commission_lc, " <b>", stf(comm, 0),
                "</b> ", ru_roubles, "\n");
}

// The head of every page, through "<body>\n".
void write_report_header(FILE *fp)
{
    write_texts(fp,
                "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
                "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\n"
                "<html>\n"
                "<head>\n"
                "<meta http-equiv=\"content-type\" content=\"text/html; charset=Windows-1251\" />\n"
                "<title>",
                ru_report_title, "</title>\n</head>\n<body>\n");
}

void write_report_footer(FILE *fp, bool xml)
{
    if (xml)
        write_texts(fp, "<hr />\n<p>", ru_generated, " ", datetime(), "<br />\n");
    else
        write_texts(fp, "<hr>\n<p>", ru_generated, " ", datetime(), "<br>\n");
    write_texts(fp, "Varnock " VARNOCK_VERSION "</p>\n</body>\n</html>\n");
}

// The page's heading: the year of T[0..nt), or the first and last years.
static void write_years_heading(FILE *fp, const transaction_t *T, int nt)
{
    int32_t y1, y2;
    year_span(T, nt, &y1, &y2);
    char first[16], last[16];
    *put_int(first, y1, 1) = 0;
    *put_int(last, y2, 1) = 0;
    if (y1 == y2)
        write_texts(fp, "<h1>", ru_statistics_for, " ", first, "</h1>\n");
    else
        write_texts(fp, "<h1>", ru_statistics_for, " ", first, " -- ", last, "</h1>\n");
}

// The statistics table over T[0..nt): trades, turnover, result and fees.
static void write_statistics(FILE *fp, const transaction_t *T, int nt)
{
    money_totals_t m = sum_money(T, nt);
    char count[16];
    *put_int(count, nt, 1) = 0;
    write_texts(fp, "<p><table border=0 cellpadding=2>\n<tr><td>", ru_trades_total, "</td> <td align=right>",
                count, "</td></tr>\n");
    write_texts(fp, "<tr><td>", ru_turnover, "</td> <td align=right>", stf(m.sell + m.buy, 0), "</td></tr>\n");
    write_texts(fp, "<tr><td>", ru_result, "</td> <td align=right>", stf(m.sell - m.buy - m.comm, 1),
                "</td></tr>\n");
    write_texts(fp, "<tr><td>", ru_commission, "</td> <td align=right>", stf(m.comm, 0), "</td></tr>\n",
                "</table></p>\n");
}

// One whole page over T[0..nt), nt >= 1, whose records of one stock stand
// together: header, years covered, a section per stock run, statistics and
// a footer with the time of writing.
void produce_report(FILE *fp, transaction_t *T, int nt)
{
    write_report_header(fp);
    write_years_heading(fp, T, nt);
    for (int i = 0, j; i < nt; i = j) {
        for (j = i + 1; j < nt && cmp_names(T[j].stock, T[i].stock) == 0; j++) {
        }
        produce_stock_report(fp, T + i, j - i);
    }
    write_statistics(fp, T, nt);
    write_report_footer(fp, false);
}

// Writes "report-<year>.html" for every year present, in ascending order,
// then "report.html" over all years; leaves T in stock-and-time order.
void write_reports(transaction_t *T, int nt, const text_ranks_t &ranks)
{
    if (nt <= 0)
        return;
    sort_by_year_and_stock(T, nt, ranks);
    for (int i = 0, j; i < nt; i = j) {
        for (j = i + 1; j < nt && T[j].y == T[i].y; j++) {
        }
        char name[32];
        snprintf(name, sizeof name, "report-%d.html", T[i].y);
        FILE *fp = open_output(name);
        produce_report(fp, T + i, j - i);
        close_output(fp);
    }
    sort_by_stock(T, nt, ranks);
    FILE *fp = open_output("report.html");
    produce_report(fp, T, nt);
    close_output(fp);
}

