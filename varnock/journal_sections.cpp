// The trader's journal on the profit page: the statistics of the closings
// per year and over all years, and the month-by-month heat map.

#include "journal_sections.h"

#include "money_text.h"
#include "output.h"
#include "profit_markup.h"

#include <algorithm>

// Section literals (Windows-1251).
// "Статистика сделок"
static const char pf_stats_title[] = "\xD1\xF2\xE0\xF2\xE8\xF1\xF2\xE8\xEA\xE0 \xF1\xE4\xE5\xEB\xEE\xEA";
// "Результат по месяцам"
static const char pf_months_title[] = "\xD0\xE5\xE7\xF3\xEB\xFC\xF2\xE0\xF2 \xEF\xEE \xEC\xE5\xF1\xFF\xF6\xE0\xEC";
// "Показатель"
static const char pf_measure[] = "\xCF\xEE\xEA\xE0\xE7\xE0\xF2\xE5\xEB\xFC";
// "Все годы"
static const char pf_all_years[] = "\xC2\xF1\xE5 \xE3\xEE\xE4\xFB";
// "Закрытий"
static const char pf_closings[] = "\xC7\xE0\xEA\xF0\xFB\xF2\xE8\xE9";
// "Прибыльных"
static const char pf_winners[] = "\xCF\xF0\xE8\xE1\xFB\xEB\xFC\xED\xFB\xF5";
// "Убыточных"
static const char pf_losers[] = "\xD3\xE1\xFB\xF2\xEE\xF7\xED\xFB\xF5";
// "Доля прибыльных"
static const char pf_win_rate[] = "\xC4\xEE\xEB\xFF \xEF\xF0\xE8\xE1\xFB\xEB\xFC\xED\xFB\xF5";
// "Средняя прибыль"
static const char pf_average_win[] = "\xD1\xF0\xE5\xE4\xED\xFF\xFF \xEF\xF0\xE8\xE1\xFB\xEB\xFC";
// "Средний убыток"
static const char pf_average_loss[] = "\xD1\xF0\xE5\xE4\xED\xE8\xE9 \xF3\xE1\xFB\xF2\xEE\xEA";
// "Профит-фактор"
static const char pf_profit_factor[] = "\xCF\xF0\xEE\xF4\xE8\xF2-\xF4\xE0\xEA\xF2\xEE\xF0";
// "Матожидание на закрытие"
static const char pf_expectancy[] = "\xCC\xE0\xF2\xEE\xE6\xE8\xE4\xE0\xED\xE8\xE5 \xED\xE0 \xE7\xE0\xEA\xF0\xFB\xF2\xE8\xE5";
// "Крупнейшая прибыль"
static const char pf_largest_win[] = "\xCA\xF0\xF3\xEF\xED\xE5\xE9\xF8\xE0\xFF \xEF\xF0\xE8\xE1\xFB\xEB\xFC";
// "Крупнейший убыток"
static const char pf_largest_loss[] = "\xCA\xF0\xF3\xEF\xED\xE5\xE9\xF8\xE8\xE9 \xF3\xE1\xFB\xF2\xEE\xEA";
// "Максимальная просадка"
static const char pf_drawdown[] = "\xCC\xE0\xEA\xF1\xE8\xEC\xE0\xEB\xFC\xED\xE0\xFF \xEF\xF0\xEE\xF1\xE0\xE4\xEA\xE0";
// "Средний срок прибыльных, дней"
static const char pf_win_days[] = "\xD1\xF0\xE5\xE4\xED\xE8\xE9 \xF1\xF0\xEE\xEA \xEF\xF0\xE8\xE1\xFB\xEB\xFC\xED\xFB\xF5, \xE4\xED\xE5\xE9";
// "Средний срок убыточных, дней"
static const char pf_loss_days[] = "\xD1\xF0\xE5\xE4\xED\xE8\xE9 \xF1\xF0\xEE\xEA \xF3\xE1\xFB\xF2\xEE\xF7\xED\xFB\xF5, \xE4\xED\xE5\xE9";
// "Длинных закрытий"
static const char pf_long[] = "\xC4\xEB\xE8\xED\xED\xFB\xF5 \xE7\xE0\xEA\xF0\xFB\xF2\xE8\xE9";
// "Коротких закрытий"
static const char pf_short[] = "\xCA\xEE\xF0\xEE\xF2\xEA\xE8\xF5 \xE7\xE0\xEA\xF0\xFB\xF2\xE8\xE9";
// "—"
static const char pf_none[] = "\x97";
// "Янв" to "Дек"
static const char *const pf_month_names[12] = {
    "\xDF\xED\xE2", "\xD4\xE5\xE2", "\xCC\xE0\xF0", "\xC0\xEF\xF0", "\xCC\xE0\xE9", "\xC8\xFE\xED",
    "\xC8\xFE\xEB", "\xC0\xE2\xE3", "\xD1\xE5\xED", "\xCE\xEA\xF2", "\xCD\xEE\xFF", "\xC4\xE5\xEA"};

// ---- statistics ----

static void put_text_cell(FILE *fp, const char *text)
{
    write_format(fp, "<td align=\"right\">%s</td>", text);
}

static void put_count_cell(FILE *fp, int64_t n)
{
    write_format(fp, "<td align=\"right\">%lld</td>", (long long)n);
}

static void put_money_cell(FILE *fp, std::optional<int64_t> kopecks)
{
    put_text_cell(fp, kopecks ? stk(*kopecks) : pf_none);
}

// A whole number of hundredths as "2.50", or of tenths as "48.6" (places 1).
static void put_fixed_cell(FILE *fp, std::optional<int64_t> units, int places, const char *suffix)
{
    if (!units) {
        put_text_cell(fp, pf_none);
        return;
    }
    int64_t scale = places == 1 ? 10 : 100;
    uint64_t magnitude = *units < 0 ? 0 - (uint64_t)*units : (uint64_t)*units;
    write_format(fp, "<td align=\"right\">%s%llu.%0*llu%s</td>", *units < 0 ? "-" : "",
            (unsigned long long)(magnitude / (uint64_t)scale), places,
            (unsigned long long)(magnitude % (uint64_t)scale), suffix);
}

static void put_days_cell(FILE *fp, std::optional<double> days)
{
    if (!days) {
        put_text_cell(fp, pf_none);
        return;
    }
    char text[330];
    fixed_text(text, *days, 1);
    put_text_cell(fp, text);
}

// One row of the table: its label, then the figure of each column.
template <typename Cell>
static void put_stats_row(FILE *fp, const char *label, const std::vector<journal_stats_t> &columns, Cell cell)
{
    write_format(fp, "<tr><td>%s</td>", label);
    for (const journal_stats_t &s : columns)
        cell(s);
    write_texts(fp, "</tr>\n");
}

// The statistics of each year's closings, then of all.
static std::vector<journal_stats_t> stats_columns(const std::vector<journal_closing_t> &closings,
                                                  std::vector<int32_t> &years)
{
    std::vector<journal_stats_t> columns;
    std::vector<journal_closing_t> year_closings;
    for (size_t k = 0, j; k < closings.size(); k = j) {
        for (j = k; j < closings.size() && closings[j].year == closings[k].year; j++)
            ;
        year_closings.assign(closings.begin() + (ptrdiff_t)k, closings.begin() + (ptrdiff_t)j);
        columns.push_back(journal_stats(year_closings));
        years.push_back(closings[k].year);
    }
    columns.push_back(journal_stats(closings));
    return columns;
}

void write_stats_section(FILE *fp, const std::vector<journal_closing_t> &closings)
{
    put_heading(fp, pf_stats_title);
    std::vector<int32_t> years;
    std::vector<journal_stats_t> columns = stats_columns(closings, years);
    write_format(fp, "<table id=\"stats\" border=\"1\" cellspacing=\"0\" cellpadding=\"5\">\n<tr><th>%s</th>",
            pf_measure);
    for (int32_t year : years)
        write_format(fp, "<th>%d</th>", year);
    write_format(fp, "<th>%s</th></tr>\n", pf_all_years);
    auto row = [&](const char *label, auto cell) { put_stats_row(fp, label, columns, cell); };
    row(pf_closings, [&](const journal_stats_t &s) { put_count_cell(fp, s.closings); });
    row(pf_winners, [&](const journal_stats_t &s) { put_count_cell(fp, s.winners); });
    row(pf_losers, [&](const journal_stats_t &s) { put_count_cell(fp, s.losers); });
    row(pf_win_rate, [&](const journal_stats_t &s) { put_fixed_cell(fp, s.win_rate(), 1, "%"); });
    row(pf_average_win, [&](const journal_stats_t &s) { put_money_cell(fp, s.average_win()); });
    row(pf_average_loss, [&](const journal_stats_t &s) { put_money_cell(fp, s.average_loss()); });
    row(pf_profit_factor, [&](const journal_stats_t &s) { put_fixed_cell(fp, s.profit_factor(), 2, ""); });
    row(pf_expectancy, [&](const journal_stats_t &s) { put_money_cell(fp, s.expectancy()); });
    row(pf_largest_win, [&](const journal_stats_t &s) {
        put_money_cell(fp, s.winners ? std::optional<int64_t>(s.largest_win) : std::nullopt);
    });
    row(pf_largest_loss, [&](const journal_stats_t &s) {
        put_money_cell(fp, s.losers ? std::optional<int64_t>(s.largest_loss) : std::nullopt);
    });
    row(pf_drawdown, [&](const journal_stats_t &s) { put_money_cell(fp, s.max_drawdown); });
    row(pf_win_days, [&](const journal_stats_t &s) { put_days_cell(fp, s.win_days_held()); });
    row(pf_loss_days, [&](const journal_stats_t &s) { put_days_cell(fp, s.loss_days_held()); });
    row(pf_long, [&](const journal_stats_t &s) { put_count_cell(fp, s.long_closings); });
    row(pf_short, [&](const journal_stats_t &s) { put_count_cell(fp, s.short_closings); });
    write_texts(fp, "</table>\n");
}

// ---- month table ----

// The tint of a gain or a loss at its fullest; a month's cell lies between
// white and this in proportion to its result's share of the largest.
struct rgb_t {
    int r, g, b;
};
static const rgb_t full_gain = {99, 190, 123}, full_loss = {248, 105, 107};

// White moved towards full by part / whole, 0 <= part <= whole, whole > 0.
static int tint(int full, uint64_t part, uint64_t whole)
{
    return 255 - (int)(((__int128)(255 - full) * part + whole / 2) / whole);
}

static uint64_t magnitude(int64_t v)
{
    return v < 0 ? 0 - (uint64_t)v : (uint64_t)v;
}

static void put_month_cell(FILE *fp, const std::optional<int64_t> &month, uint64_t largest)
{
    if (!month) {
        write_texts(fp, "<td></td>");
        return;
    }
    const rgb_t &full = *month < 0 ? full_loss : full_gain;
    uint64_t part = magnitude(*month);
    write_format(fp, "<td align=\"right\" style=\"background-color:#%02x%02x%02x\">%s</td>",
            tint(full.r, part, largest), tint(full.g, part, largest), tint(full.b, part, largest), stk(*month));
}

void write_months_section(FILE *fp, const std::vector<journal_closing_t> &closings)
{
    std::vector<month_row_t> rows = month_table(closings);
    uint64_t largest = 1;
    for (const month_row_t &row : rows)
        for (const std::optional<int64_t> &month : row.months)
            if (month)
                largest = std::max(largest, magnitude(*month));
    put_heading(fp, pf_months_title);
    write_format(fp, "<table id=\"months\" border=\"1\" cellspacing=\"0\" cellpadding=\"5\">\n<tr><th>%s</th>",
            pf_year);
    for (const char *name : pf_month_names)
        write_format(fp, "<th>%s</th>", name);
    write_format(fp, "<th>%s</th></tr>\n", pf_total);
    for (const month_row_t &row : rows) {
        write_format(fp, "<tr><td>%d</td>", row.year);
        for (const std::optional<int64_t> &month : row.months)
            put_month_cell(fp, month, largest);
        put_result_cell(fp, row.total);
        write_texts(fp, "</tr>\n");
    }
    write_texts(fp, "</table>\n");
}
