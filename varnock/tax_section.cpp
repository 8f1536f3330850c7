// The tax estimate of the profit page: the year tables' sums as income and
// expenses, losses carried forward, the tax at the year's rates.

#include "tax_section.h"

#include "money_text.h"
#include "output.h"
#include "profit_markup.h"
#include "tax.h"

#include <cstring>
#include <vector>

// Section literals (Windows-1251).
// "Оценка налога (НДФЛ)"
static const char pf_tax_title[] = "\xCE\xF6\xE5\xED\xEA\xE0 \xED\xE0\xEB\xEE\xE3\xE0 (\xCD\xC4\xD4\xCB)";
// "Доходы (код 1530)"
static const char pf_income[] = "\xC4\xEE\xF5\xEE\xE4\xFB (\xEA\xEE\xE4 1530)";
// "Расходы (код 201)"
static const char pf_expenses[] = "\xD0\xE0\xF1\xF5\xEE\xE4\xFB (\xEA\xEE\xE4 201)";
// "Финансовый результат"
static const char pf_fin_result[] = "\xD4\xE8\xED\xE0\xED\xF1\xEE\xE2\xFB\xE9 \xF0\xE5\xE7\xF3\xEB\xFC\xF2\xE0\xF2";
// "Перенос убытков"
static const char pf_carried[] = "\xCF\xE5\xF0\xE5\xED\xEE\xF1 \xF3\xE1\xFB\xF2\xEA\xEE\xE2";
// "Налоговая база"
static const char pf_base[] = "\xCD\xE0\xEB\xEE\xE3\xEE\xE2\xE0\xFF \xE1\xE0\xE7\xE0";
// "Налог (оценка)"
static const char pf_tax[] = "\xCD\xE0\xEB\xEE\xE3 (\xEE\xF6\xE5\xED\xEA\xE0)";
// What the estimate assumes: a tax resident, the year of the trade date, this
// folder's trades only, no three-year exemption and no ИИС.
static const char pf_tax_note[] =
    "\xCE\xF6\xE5\xED\xEA\xE0 \xE8\xF1\xF5\xEE\xE4\xE8\xF2 \xE8\xE7 "
    "\xF2\xEE\xE3\xEE, \xF7\xF2\xEE \xE2\xFB \xED\xE0\xEB\xEE\xE3\xEE\xE2\xFB\xE9 "
    "\xF0\xE5\xE7\xE8\xE4\xE5\xED\xF2 \xD0\xD4; \xE4\xEE\xF5\xEE\xE4\xFB \xE8 "
    "\xF0\xE0\xF1\xF5\xEE\xE4\xFB \xEE\xF2\xED\xEE\xF1\xFF\xF2\xF1\xFF \xEA "
    "\xE3\xEE\xE4\xF3 \xE4\xE0\xF2\xFB \xF1\xE4\xE5\xEB\xEA\xE8; "
    "\xF3\xF7\xF2\xE5\xED\xFB \xF2\xEE\xEB\xFC\xEA\xEE \xF1\xE4\xE5\xEB\xEA\xE8 "
    "\xFD\xF2\xEE\xE9 \xEF\xE0\xEF\xEA\xE8, \xE0 \xEF\xEE\xF0\xEE\xE3 "
    "\xF1\xF2\xE0\xE2\xEA\xE8 15% \xF1\xF7\xE8\xF2\xE0\xE5\xF2 \xE2\xF1\xE5 "
    "\xF2\xE0\xEA\xE8\xE5 \xE4\xEE\xF5\xEE\xE4\xFB, \xE2 \xF2\xEE\xEC "
    "\xF7\xE8\xF1\xEB\xE5 \xF3 \xE4\xF0\xF3\xE3\xE8\xF5 "
    "\xE1\xF0\xEE\xEA\xE5\xF0\xEE\xE2; \xEB\xFC\xE3\xEE\xF2\xE0 \xE7\xE0 "
    "\xE2\xEB\xE0\xE4\xE5\xED\xE8\xE5 \xE1\xF3\xEC\xE0\xE3\xE0\xEC\xE8 "
    "\xE1\xEE\xEB\xE5\xE5 \xF2\xF0\xE5\xF5 \xEB\xE5\xF2 \xE8 \xF1\xF7\xE5\xF2\xE0 "
    "\xC8\xC8\xD1 \xED\xE5 \xEF\xF0\xE8\xEC\xE5\xED\xFF\xFE\xF2\xF1\xFF \x97 "
    "\xE2\xFB\xE3\xF0\xF3\xE7\xE8\xF2\xE5 \xF2\xE0\xEA\xEE\xE9 \xF1\xF7\xE5\xF2 "
    "\xE2 \xEE\xF2\xE4\xE5\xEB\xFC\xED\xF3\xFE \xEF\xE0\xEF\xEA\xF3.";

// A year's income (proceeds) and expenses (cost and fees) from its sums.
static tax_input_t tax_input(int32_t year, const realised_t &sums)
{
    return {year, sums.proceeds, sums.cost + sums.fees};
}

// Whole roubles with the pages' digit grouping: "1,612".
static const char *whole_roubles_text(int64_t roubles)
{
    char *text = stk(roubles * 100);
    text[strlen(text) - 3] = 0;
    return text;
}

static void put_money_cell(FILE *fp, int64_t kopecks)
{
    write_format(fp, "<td align=\"right\">%s</td>", stk(kopecks));
}

// Income, expenses and result; the figures that only the accounts together
// have are left out when full is not set.
static void put_tax_cells(FILE *fp, const tax_row_t &row, bool full)
{
    put_money_cell(fp, row.income);
    put_money_cell(fp, row.expenses);
    put_result_cell(fp, row.result);
    if (full) {
        put_money_cell(fp, row.carried);
        put_money_cell(fp, row.base);
        write_format(fp, "<td align=\"right\">%s</td></tr>\n", whole_roubles_text(row.tax));
    } else {
        write_texts(fp, "<td></td><td></td><td></td></tr>\n");
    }
}

// The rows "2012 (account)" of one year: each account's income, expenses and
// result; the year's rows stand by account.
static void put_account_rows(FILE *fp, const profit_year_t &py)
{
    for (size_t k = 0; k < py.rows.size();) {
        const char *account = py.rows[k].first->account;
        realised_t sums;
        for (; k < py.rows.size() && py.rows[k].first->account == account; k++)
            sums.add(py.rows[k].sums);
        tax_input_t in = tax_input(py.year, sums);
        write_format(fp, "<tr><td>%d (", py.year);
        if (account)
            put_escaped(fp, account);
        write_texts(fp, ")</td>");
        put_tax_cells(fp, {py.year, in.income, in.expenses, in.income - in.expenses, 0, 0, 0}, false);
    }
}

static void add_row(tax_row_t &total, const tax_row_t &row)
{
    total.income += row.income;
    total.expenses += row.expenses;
    total.result += row.result;
    total.carried += row.carried;
    total.base += row.base;
    total.tax += row.tax;
}

void write_tax_section(FILE *fp, const profit_book_t &book)
{
    std::vector<tax_input_t> inputs;
    for (const profit_year_t &py : book.years)
        inputs.push_back(tax_input(py.year, py.sums));
    std::vector<tax_row_t> rows = estimate_tax(inputs);
    put_heading(fp, pf_tax_title);
    put_table_head(fp, "tax", false, {pf_year, pf_income, pf_expenses, pf_fin_result, pf_carried, pf_base, pf_tax});
    tax_row_t total = {};
    for (size_t k = 0; k < rows.size(); k++) {
        write_format(fp, "<tr><td>%d</td>", rows[k].year);
        put_tax_cells(fp, rows[k], true);
        if (book.accounts.size() > 1)
            put_account_rows(fp, book.years[k]);
        add_row(total, rows[k]);
    }
    write_format(fp, "<tr><td><b>%s</b></td>", pf_total);
    put_tax_cells(fp, total, true);
    write_texts(fp, "</table>\n<p>", pf_tax_note, "</p>\n");
}
