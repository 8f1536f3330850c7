// The profit page: "profit.html" with the years, the closings of each year,
// the open positions, the chart and the trades left out.

#include "profit_page.h"

#include "chart.h"
#include "money_text.h"
#include "output.h"
#include "profit.h"
#include "reports.h"

#include "keltools.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

// Page literals (Windows-1251).
static const char pf_by_years[] = "\xC8\xF2\xEE\xE3\xE8 \xEF\xEE \xE3\xEE\xE4\xE0\xEC";  // "Итоги по годам"
static const char pf_closed_in[] = "\xC7\xE0\xEA\xF0\xFB\xF2\xFB\xE5 \xEF\xEE\xE7\xE8\xF6\xE8\xE8 "
                                   "\xE7\xE0 ";                              // "Закрытые позиции за "
static const char pf_year_word[] = " \xE3\xEE\xE4";                           // " год"
static const char pf_open_title[] = "\xCE\xF2\xEA\xF0\xFB\xF2\xFB\xE5 \xEF\xEE\xE7\xE8\xF6\xE8\xE8";  // "Открытые позиции"
static const char pf_skipped_title[] = "\xD1\xE4\xE5\xEB\xEA\xE8 \xE2\xED\xE5 "
                                       "\xF0\xE0\xF1\xF7\xE5\xF2\xE0";        // "Сделки вне расчета"
static const char pf_skipped_count[] =
    "\xD1\xE4\xE5\xEB\xEE\xEA \xE2\xED\xE5 \xF0\xE0\xF1\xF7\xE5\xF2\xE0 (\xEA\xEE\xEB\xE8\xF7\xE5\xF1"
    "\xF2\xE2\xEE \xED\xE5 \xFF\xE2\xEB\xFF\xE5\xF2\xF1\xFF \xEA\xEE\xED\xE5\xF7\xED\xFB\xEC "
    "\xEF\xEE\xEB\xEE\xE6\xE8\xF2\xE5\xEB\xFC\xED\xFB\xEC \xF7\xE8\xF1\xEB\xEE\xEC): ";
    // "Сделок вне расчета (количество не является конечным положительным числом): "
static const char pf_year[] = "\xC3\xEE\xE4";                                // "Год"
static const char pf_proceeds[] = "\xC2\xFB\xF0\xF3\xF7\xEA\xE0";            // "Выручка"
static const char pf_cost[] = "\xC7\xE0\xF2\xF0\xE0\xF2\xFB";                // "Затраты"
static const char pf_fees[] = "\xCA\xEE\xEC\xE8\xF1\xF1\xE8\xFF";            // "Комиссия"
static const char pf_result[] = "\xD0\xE5\xE7\xF3\xEB\xFC\xF2\xE0\xF2";      // "Результат"
static const char pf_avg_price[] = "\xD1\xF0\xE5\xE4\xED\xFF\xFF \xF6\xE5\xED\xE0";  // "Средняя цена"
static const char pf_money[] = "\xD1\xF3\xEC\xEC\xE0";                       // "Сумма"
static const char pf_opened[] = "\xC4\xE0\xF2\xE0 \xEE\xF2\xEA\xF0\xFB\xF2\xE8\xFF";  // "Дата открытия"
static const char pf_total[] = "\xC8\xF2\xEE\xE3\xEE";                       // "Итого"
static const char pf_direction[] = "\xCD\xE0\xEF\xF0\xE0\xE2\xEB\xE5\xED\xE8\xE5";  // "Направление"

// Text with "&", "<" and ">" written as entities.
static void put_escaped(FILE *fp, const char *s)
{
    for (;;) {
        size_t plain = strcspn(s, "&<>");
        write_bytes(fp, s, plain);
        s += plain;
        if (!*s)
            return;
        write_texts(fp, *s == '&' ? "&amp;" : *s == '<' ? "&lt;" : "&gt;");
        s++;
    }
}

// "name (ticker)" of the security that t names.
static void put_security(FILE *fp, const transaction_t *t)
{
    put_escaped(fp, t->stock);
    write_texts(fp, " (");
    put_escaped(fp, t->ticker);
    write_texts(fp, ")");
}

// A result in the colours of stf(value, 1), with the attribute quoted.
static void put_result_cell(FILE *fp, double value)
{
    write_format(fp, "<td align=\"right\"><font color=\"%s\">%s</font></td>", value < 0 ? "red" : "darkgreen",
            stf(value, 0));
}

static void put_money_cells(FILE *fp, const realised_t &r)
{
    write_format(fp, "<td align=\"right\">%s</td><td align=\"right\">%s</td><td align=\"right\">%s</td>",
            stf(r.proceeds, 0), stf(r.cost, 0), stf(r.fees, 0));
    put_result_cell(fp, r.result());
    write_texts(fp, "</tr>\n");
}

static void put_table_head(FILE *fp, const char *id, std::initializer_list<const char *> titles)
{
    write_format(fp, "<table id=\"%s\" border=\"1\" cellspacing=\"0\" cellpadding=\"5\">\n<tr>", id);
    for (const char *title : titles)
        write_format(fp, "<th>%s</th>", title);
    write_texts(fp, "</tr>\n");
}

static void write_years_table(FILE *fp, const profit_book_t &book, realised_t *total)
{
    write_format(fp, "<h2>%s</h2>\n", pf_by_years);
    put_table_head(fp, "years", {pf_year, pf_proceeds, pf_cost, pf_fees, pf_result});
    for (const profit_year_t &py : book.years) {
        write_format(fp, "<tr><td>%d</td>", py.year);
        put_money_cells(fp, py.sums);
        total->add(py.sums);
    }
    write_format(fp, "<tr><td><b>%s</b></td>", pf_total);
    put_money_cells(fp, *total);
    write_texts(fp, "</table>\n");
}

static void write_year_table(FILE *fp, const profit_year_t &py)
{
    write_format(fp, "<h2>%s%d%s</h2>\n", pf_closed_in, py.year, pf_year_word);
    char id[16];
    snprintf(id, sizeof id, "y%d", py.year);
    put_table_head(fp, id, {ru_share, ru_quantity, pf_proceeds, pf_cost, pf_fees, pf_result});
    for (const security_row_t &row : py.rows) {
        write_texts(fp, "<tr><td>");
        put_security(fp, row.first);
        write_format(fp, "</td><td align=\"right\">%s</td>", stn(row.sums.quantity));
        put_money_cells(fp, row.sums);
    }
    write_format(fp, "<tr><td><b>%s</b></td><td></td>", pf_total);
    put_money_cells(fp, py.sums);
    write_texts(fp, "</table>\n");
}

static void write_open_table(FILE *fp, const profit_book_t &book)
{
    write_format(fp, "<h2>%s</h2>\n", pf_open_title);
    put_table_head(fp, "open", {ru_share, ru_quantity, pf_avg_price, pf_money, pf_fees, pf_opened});
    for (const open_position_t &p : book.open) {
        write_texts(fp, "<tr><td>");
        put_security(fp, p.first);
        char price[330];
        fixed_text(price, p.money / fabs(p.quantity), 4);
        write_format(fp, "</td><td align=\"right\">%s</td><td align=\"right\">%s</td>", stn(p.quantity), price);
        write_format(fp, "<td align=\"right\">%s</td><td align=\"right\">%s</td><td>%02d.%02d.%04d</td></tr>\n",
                stf(p.money, 0), stf(p.fees, 0), p.oldest->d, p.oldest->mo, p.oldest->y);
    }
    write_texts(fp, "</table>\n");
}

static void write_skipped(FILE *fp, const profit_book_t &book)
{
    write_format(fp, "<p>%s%d</p>\n", pf_skipped_count, (int)book.skipped.size());
    if (book.skipped.empty())
        return;
    write_format(fp, "<h2>%s</h2>\n", pf_skipped_title);
    put_table_head(fp, "skipped", {ru_date_time, ru_share, pf_direction, pf_money});
    for (const transaction_t *t : book.skipped) {
        write_format(fp, "<tr><td>%02d.%02d.%04d %02d:%02d:%02d</td><td>", t->d, t->mo, t->y, t->h, t->mi, t->s);
        put_security(fp, t);
        write_format(fp, "</td><td>%s</td><td align=\"right\">%s</td></tr>\n",
                t->direction == 1 ? word_buy : word_sale, stf(t->amount, 0));
    }
    write_texts(fp, "</table>\n");
}
// The whole of "profit.html" over the unique trades T[0..n), n >= 1.
void produce_profit_page(FILE *fp, const transaction_t *T, int n, const text_ranks_t &ranks)
{
    write_report_header(fp);
    int32_t y1, y2;
    year_span(T, n, &y1, &y2);
    if (y1 == y2)
        write_format(fp, "<h1>%s%d</h1>\n", pf_heading, y1);
    else
        write_format(fp, "<h1>%s%d -- %d</h1>\n", pf_heading, y1, y2);
    profit_book_t book = build_profit_book(T, n, ranks);
    realised_t total;
    write_years_table(fp, book, &total);
    for (const profit_year_t &py : book.years)
        write_year_table(fp, py);
    write_open_table(fp, book);
    write_chart(fp, book, total, y1, y2);
    write_skipped(fp, book);
    write_report_footer(fp, true);
}

// Writes "profit.html" from the unique trades, each fill on its own.
void write_profit(const std::vector<transaction_t> &fills, const text_ranks_t &ranks)
{
    if (fills.empty())
        return;
    FILE *fp = open_output("profit.html");
    produce_profit_page(fp, fills.data(), (int)fills.size(), ranks);
    close_output(fp);
}

