// The profit page: "profit.html" with the years, the tax estimate, the
// journal's statistics and months, the chart, the closings of each year, the
// open positions and the trades left out.

#include "profit_page.h"

#include "chart.h"
#include "csv_export.h"
#include "journal_sections.h"
#include "money_text.h"
#include "output.h"
#include "profit.h"
#include "profit_markup.h"
#include "reports.h"
#include "tax_section.h"
#include "threads.h"

#include "keltools.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <system_error>

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
static const char pf_proceeds[] = "\xC2\xFB\xF0\xF3\xF7\xEA\xE0";            // "Выручка"
static const char pf_cost[] = "\xC7\xE0\xF2\xF0\xE0\xF2\xFB";                // "Затраты"
static const char pf_fees[] = "\xCA\xEE\xEC\xE8\xF1\xF1\xE8\xFF";            // "Комиссия"
static const char pf_result[] = "\xD0\xE5\xE7\xF3\xEB\xFC\xF2\xE0\xF2";      // "Результат"
static const char pf_avg_price[] = "\xD1\xF0\xE5\xE4\xED\xFF\xFF \xF6\xE5\xED\xE0";  // "Средняя цена"
static const char pf_money[] = "\xD1\xF3\xEC\xEC\xE0";                       // "Сумма"
static const char pf_opened[] = "\xC4\xE0\xF2\xE0 \xEE\xF2\xEA\xF0\xFB\xF2\xE8\xFF";  // "Дата открытия"
static const char pf_direction[] = "\xCD\xE0\xEF\xF0\xE0\xE2\xEB\xE5\xED\xE8\xE5";  // "Направление"

// "name (ticker)" of the security that t names.
static void put_security(FILE *fp, const transaction_t *t)
{
    put_escaped(fp, t->stock);
    write_texts(fp, " (");
    put_escaped(fp, t->ticker);
    write_texts(fp, ")");
}

// The account cell that starts a row when the page shows accounts.
static void put_account_cell(FILE *fp, const transaction_t *t, bool shown)
{
    if (!shown)
        return;
    write_texts(fp, "<td>");
    if (t->account)
        put_escaped(fp, t->account);
    write_texts(fp, "</td>");
}

static void put_money_cells(FILE *fp, const realised_t &r)
{
    write_format(fp, "<td align=\"right\">%s</td><td align=\"right\">%s</td><td align=\"right\">%s</td>",
            stk(r.proceeds), stk(r.cost), stk(r.fees));
    put_result_cell(fp, r.result());
    write_texts(fp, "</tr>\n");
}

static bool shows_accounts(const profit_book_t &book)
{
    return book.accounts.size() > 1;
}

// Below the totals, each account's result per year: "2012 (account)".
static void write_account_breakdown(FILE *fp, const profit_book_t &book)
{
    for (const char *account : book.accounts) {
        for (const profit_year_t &py : book.years) {
            realised_t sums;
            bool any = false;
            for (const security_row_t &row : py.rows) {
                if (row.first->account == account) {
                    sums.add(row.sums);
                    any = true;
                }
            }
            if (!any)
                continue;
            write_format(fp, "<tr><td>%d (", py.year);
            if (account)
                put_escaped(fp, account);
            write_texts(fp, ")</td>");
            put_money_cells(fp, sums);
        }
    }
}

static void write_years_table(FILE *fp, const profit_book_t &book, realised_t *total)
{
    write_format(fp, "<h2>%s</h2>\n", pf_by_years);
    put_table_head(fp, "years", false, {pf_year, pf_proceeds, pf_cost, pf_fees, pf_result});
    for (const profit_year_t &py : book.years) {
        write_format(fp, "<tr><td>%d</td>", py.year);
        put_money_cells(fp, py.sums);
        total->add(py.sums);
    }
    write_format(fp, "<tr><td><b>%s</b></td>", pf_total);
    put_money_cells(fp, *total);
    if (shows_accounts(book))
        write_account_breakdown(fp, book);
    write_texts(fp, "</table>\n");
}

static void write_year_table(FILE *fp, const profit_year_t &py, bool accounts)
{
    write_format(fp, "<h2>%s%d%s</h2>\n", pf_closed_in, py.year, pf_year_word);
    char id[16];
    snprintf(id, sizeof id, "y%d", py.year);
    put_table_head(fp, id, accounts, {ru_share, ru_quantity, pf_proceeds, pf_cost, pf_fees, pf_result});
    for (const security_row_t &row : py.rows) {
        write_texts(fp, "<tr>");
        put_account_cell(fp, row.first, accounts);
        write_texts(fp, "<td>");
        put_security(fp, row.first);
        write_format(fp, "</td><td align=\"right\">%s</td>", stn(row.sums.quantity));
        put_money_cells(fp, row.sums);
    }
    write_format(fp, "<tr><td><b>%s</b></td><td></td>%s", pf_total, accounts ? "<td></td>" : "");
    put_money_cells(fp, py.sums);
    write_texts(fp, "</table>\n");
}

static void write_open_table(FILE *fp, const profit_book_t &book)
{
    bool accounts = shows_accounts(book);
    write_format(fp, "<h2>%s</h2>\n", pf_open_title);
    put_table_head(fp, "open", accounts, {ru_share, ru_quantity, pf_avg_price, pf_money, pf_fees, pf_opened});
    for (const open_position_t &p : book.open) {
        write_texts(fp, "<tr>");
        put_account_cell(fp, p.first, accounts);
        write_texts(fp, "<td>");
        put_security(fp, p.first);
        char price[330];
        fixed_text(price, (double)p.money / 100 / fabs(p.quantity), 4);
        write_format(fp, "</td><td align=\"right\">%s</td><td align=\"right\">%s</td>", stn(p.quantity), price);
        write_format(fp, "<td align=\"right\">%s</td><td align=\"right\">%s</td><td>%02d.%02d.%04d</td></tr>\n",
                stk(p.money), stk(p.fees), p.oldest->d, p.oldest->mo, p.oldest->y);
    }
    write_texts(fp, "</table>\n");
}

static void write_skipped(FILE *fp, const profit_book_t &book)
{
    write_format(fp, "<p>%s%d</p>\n", pf_skipped_count, (int)book.skipped.size());
    if (book.skipped.empty())
        return;
    write_format(fp, "<h2>%s</h2>\n", pf_skipped_title);
    put_table_head(fp, "skipped", false, {ru_date_time, ru_share, pf_direction, pf_money});
    for (const transaction_t *t : book.skipped) {
        write_format(fp, "<tr><td>%02d.%02d.%04d %02d:%02d:%02d</td><td>", t->d, t->mo, t->y, t->h, t->mi, t->s);
        put_security(fp, t);
        write_format(fp, "</td><td>%s</td><td align=\"right\">%s</td></tr>\n",
                t->direction == 1 ? word_buy : word_sale, std::isfinite(t->amount) ? stf(t->amount, 0) : "");
    }
    write_texts(fp, "</table>\n");
}
// The day after the month of the last trade of T[0..n): where the chart's
// time axis ends.
static int64_t end_of_last_month(const transaction_t *T, int n)
{
    int64_t end = INT64_MIN;
    for (int i = 0; i < n; i++)
        end = std::max(end, civil_day(T[i].y, (int64_t)T[i].mo + 1, 1));
    return end;
}

void produce_profit_page(FILE *fp, const transaction_t *T, int n, const profit_book_t &book)
{
    write_report_header(fp);
    int32_t y1, y2;
    year_span(T, n, &y1, &y2);
    if (y1 == y2)
        write_format(fp, "<h1>%s%d</h1>\n", pf_heading, y1);
    else
        write_format(fp, "<h1>%s%d -- %d</h1>\n", pf_heading, y1, y2);
    realised_t total;
    write_years_table(fp, book, &total);
    write_tax_section(fp, book);
    write_stats_section(fp, book.journal);
    write_months_section(fp, book.journal);
    write_chart(fp, book, total, y1, y2, end_of_last_month(T, n));
    for (const profit_year_t &py : book.years)
        write_year_table(fp, py, shows_accounts(book));
    write_open_table(fp, book);
    write_skipped(fp, book);
    write_report_footer(fp, true);
}

void produce_profit_page(FILE *fp, const transaction_t *T, int n, const text_ranks_t &ranks)
{
    produce_profit_page(fp, T, n, build_profit_book(T, n, ranks));
}

void write_profit(const std::vector<transaction_t> &fills, const profit_book_t &book)
{
    if (fills.empty())
        return;
    const transaction_t *T = fills.data();
    int n = (int)fills.size();
    FILE *fp = open_output("profit.html");
    produce_profit_page(fp, T, n, book);
    close_output(fp);
    write_exports(T, n, book);
}

void write_profit(const std::vector<transaction_t> &fills, const text_ranks_t &ranks)
{
    if (!fills.empty())
        write_profit(fills, build_profit_book(fills.data(), (int)fills.size(), ranks));
}

static profit_book_t book_of(const std::vector<transaction_t> *fills, const text_ranks_t *ranks)
{
    return fills->empty() ? profit_book_t() : build_profit_book(fills->data(), (int)fills->size(), *ranks);
}

std::future<profit_book_t> start_profit_book(const std::vector<transaction_t> &fills, const text_ranks_t &ranks)
{
    if (run_threads() > 1) {
        try {
            return std::async(std::launch::async, book_of, &fills, &ranks);
        } catch (const std::system_error &) {
            // no thread to spare: the book is built when it is taken
        }
    }
    return std::async(std::launch::deferred, book_of, &fills, &ranks);
}
