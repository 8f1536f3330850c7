// The chart of the profit page: the running result and the yearly bars, as
// inline SVG.

#include "chart.h"

#include "chart_scale.h"
#include "money_text.h"
#include "output.h"

#include <algorithm>
#include <cmath>
#include <cstring>

// Chart literals (Windows-1251).
static const char pf_chart_title[] = "\xC3\xF0\xE0\xF4\xE8\xEA";             // "График"
static const char pf_axis_result[] = "\xCD\xE0\xEA\xEE\xEF\xEB\xE5\xED\xED\xFB\xE9 \xF0\xE5\xE7"
                                     "\xF3\xEB\xFC\xF2\xE0\xF2, \xF0\xF3\xE1.";  // "Накопленный результат, руб."
static const char pf_axis_date[] = "\xC4\xE0\xF2\xE0 \xE7\xE0\xEA\xF0\xFB\xF2\xE8\xFF";  // "Дата закрытия"
static const char pf_axis_years[] = "\xD0\xE5\xE7\xF3\xEB\xFC\xF2\xE0\xF2 \xEF\xEE \xE3\xEE\xE4"
                                    "\xE0\xEC, \xF0\xF3\xE1.";  // "Результат по годам, руб."
static const char pf_no_closings[] = "\xC7\xE0\xEA\xF0\xFB\xF2\xFB\xF5 \xEF\xEE\xE7\xE8\xF6\xE8\xE9 "
                                     "\xED\xE5\xF2.";  // "Закрытых позиций нет."

// A linear map of [from_lo, from_hi] onto [to_lo, to_hi].
struct axis_t {
    double from_lo, from_hi, to_lo, to_hi;
    double at(double v) const
    {
        double span = from_hi - from_lo;
        return to_lo + (span > 0 ? (v - from_lo) / span : 0) * (to_hi - to_lo);
    }
};

// Chart geometry: the running result above, the bars of the years below.
static const int CH_W = 800, CH_H = 540, CH_L = 100, CH_R = 770;
static const int CH_T1 = 40, CH_B1 = 280, CH_T2 = 360, CH_B2 = 480;

static const char ch_green[] = "darkgreen";
static const char ch_red[] = "red";

// Kopecks as the roubles the chart's scale counts in.
static double roubles(int64_t kopecks)
{
    return (double)kopecks / 100;
}

// The running result in kopecks after each closing date, one point per date.
static std::vector<std::pair<int64_t, int64_t>> running_result(const profit_book_t &book)
{
    std::vector<std::pair<int64_t, int64_t>> points = book.day_results;
    std::stable_sort(points.begin(), points.end(), [](const auto &x, const auto &y) { return x.first < y.first; });
    size_t w = 0;
    for (size_t k = 0; k < points.size(); k++) {
        if (w > 0 && points[w - 1].first == points[k].first)
            points[w - 1].second += points[k].second;
        else
            points[w++] = points[k];
    }
    points.resize(w);
    int64_t sum = 0;
    for (auto &p : points)
        p.second = sum += p.second;
    return points;
}

// The value scale: a light grid line and a label at each tick, in whole
// roubles when every tick is one ("12,000"), else with the kopecks.
static void write_value_scale(FILE *fp, const std::vector<int64_t> &ticks, const axis_t &y)
{
    bool whole = (ticks[1] - ticks[0]) % 100 == 0;
    for (int64_t tick : ticks) {
        double at = y.at((double)tick);
        write_format(fp, "<line x1=\"%d\" y1=\"%.1f\" x2=\"%d\" y2=\"%.1f\" stroke=\"#e4e4e4\" />\n", CH_L, at, CH_R,
                at);
        char *label = stk(tick);
        if (whole)
            label[strlen(label) - 3] = 0;
        write_format(fp, "<text x=\"%d\" y=\"%.1f\" text-anchor=\"end\">%s</text>\n", CH_L - 6, at + 4, label);
    }
}

// A dashed line where each year starts and its number in the middle of its
// part of the time axis, for every year or, with many, every few years; a
// part too narrow for the number (the last year's first months) keeps only
// its line.
static void write_year_marks(FILE *fp, const axis_t &x, int32_t y1, int32_t y2, int64_t end)
{
    int64_t years = (int64_t)y2 - y1 + 1, step = std::max<int64_t>(1, (years + 19) / 20);
    for (int64_t yr = y1; yr <= y2; yr += step) {
        double left = x.at((double)civil_day(yr, 1, 1));
        double right = x.at((double)std::min(civil_day(yr + step, 1, 1), end));
        write_format(fp, "<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" stroke=\"#999999\" "
                    "stroke-dasharray=\"4 3\" />\n", left, CH_T1, left, CH_B1);
        if (right - left >= 32)
            write_format(fp, "<text x=\"%.1f\" y=\"%d\" text-anchor=\"middle\">%lld</text>\n",
                    (left + x.at((double)std::min(civil_day(yr + 1, 1, 1), end))) / 2, CH_B1 + 16, (long long)yr);
    }
}

// The running result as a staircase from the first year's start to the end
// of the month of the last trade, on a scale of round steps with the zero
// line, a mark at each new year, the axes and their titles, and the final
// result (the total row's figure).
static void write_running_chart(FILE *fp, const profit_book_t &book, const realised_t &total, int32_t y1,
                                int32_t y2, int64_t end)
{
    std::vector<std::pair<int64_t, int64_t>> points = running_result(book);
    int64_t lo = 0, hi = 0;
    for (const auto &p : points) {
        lo = std::min(lo, p.second);
        hi = std::max(hi, p.second);
    }
    std::vector<int64_t> ticks = axis_ticks(lo, hi);
    int64_t start = civil_day(y1, 1, 1);
    axis_t x = {(double)start, (double)end, CH_L, CH_R};
    axis_t y = {(double)ticks.front(), (double)ticks.back(), CH_B1, CH_T1};
    write_format(fp, "<text x=\"%d\" y=\"%d\" text-anchor=\"middle\" transform=\"rotate(-90 %d %d)\">%s</text>\n",
            24, (CH_T1 + CH_B1) / 2, 24, (CH_T1 + CH_B1) / 2, pf_axis_result);
    write_format(fp, "<text x=\"%d\" y=\"%d\" text-anchor=\"middle\">%s</text>\n", (CH_L + CH_R) / 2, CH_B1 + 36,
            pf_axis_date);
    write_value_scale(fp, ticks, y);
    write_year_marks(fp, x, y1, y2, end);
    write_format(fp, "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"black\" />\n", CH_L, CH_T1, CH_L, CH_B1);
    write_format(fp, "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"black\" />\n", CH_L, CH_B1, CH_R, CH_B1);
    write_format(fp, "<line x1=\"%d\" y1=\"%.1f\" x2=\"%d\" y2=\"%.1f\" stroke=\"#444444\" />\n", CH_L, y.at(0), CH_R,
            y.at(0));
    write_format(fp, "<polyline fill=\"none\" stroke=\"navy\" stroke-width=\"2\" points=\"%.1f,%.1f", x.at((double)start),
            y.at(0));
    double last = 0;
    for (const auto &[day, sum] : points) {
        double at = x.at((double)day);
        write_format(fp, " %.1f,%.1f %.1f,%.1f", at, y.at(last), at, y.at((double)sum));
        last = (double)sum;
    }
    write_format(fp, " %.1f,%.1f\" />\n", x.at((double)end), y.at(last));
    int64_t result = total.result();
    write_format(fp, "<text x=\"%d\" y=\"%.1f\" text-anchor=\"end\" fill=\"%s\">%s</text>\n", CH_R, y.at(last) - 6,
            result < 0 ? ch_red : ch_green, stk(result));
}

// One bar per year with closings, its height the year's result, labelled
// with the year and the result as the years table prints them.
static void write_year_bars(FILE *fp, const profit_book_t &book)
{
    double lo = 0, hi = 0;
    for (const profit_year_t &py : book.years) {
        lo = std::min(lo, roubles(py.sums.result()));
        hi = std::max(hi, roubles(py.sums.result()));
    }
    axis_t y = {lo, hi > lo ? hi : lo + 1, CH_B2, CH_T2};
    write_format(fp, "<text x=\"%d\" y=\"%d\">%s</text>\n", CH_L, CH_T2 - 24, pf_axis_years);
    write_format(fp, "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"black\" />\n", CH_L, CH_T2, CH_L, CH_B2);
    write_format(fp, "<line x1=\"%d\" y1=\"%.1f\" x2=\"%d\" y2=\"%.1f\" stroke=\"#444444\" />\n", CH_L, y.at(0), CH_R,
            y.at(0));
    double slot = (double)(CH_R - CH_L) / (double)std::max<size_t>(1, book.years.size());
    for (size_t k = 0; k < book.years.size(); k++) {
        int64_t kopecks = book.years[k].sums.result();
        double result = roubles(kopecks), top = std::min(y.at(result), y.at(0));
        double middle = CH_L + slot * ((double)k + 0.5);
        const char *colour = result < 0 ? ch_red : ch_green;
        write_format(fp, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"%s\" />\n",
                middle - slot * 0.3, top, slot * 0.6, fabs(y.at(result) - y.at(0)), colour);
        write_format(fp, "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" fill=\"%s\">%s</text>\n", middle,
                result < 0 ? y.at(result) + 14 : y.at(result) - 4, colour, stk(kopecks));
        write_format(fp, "<text x=\"%.1f\" y=\"%d\" text-anchor=\"middle\">%d</text>\n", middle, CH_B2 + 34,
                book.years[k].year);
    }
}

void write_chart(FILE *fp, const profit_book_t &book, const realised_t &total, int32_t y1, int32_t y2, int64_t end)
{
    write_format(fp, "<h2>%s</h2>\n", pf_chart_title);
    if (book.years.empty()) {
        write_format(fp, "<p>%s</p>\n", pf_no_closings);
        return;
    }
    write_format(fp, "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" "
                "font-family=\"sans-serif\" font-size=\"12\">\n<title>%s%d -- %d</title>\n"
                "<rect x=\"0\" y=\"0\" width=\"%d\" height=\"%d\" fill=\"white\" />\n",
            CH_W, CH_H, CH_W, CH_H, pf_heading, y1, y2, CH_W, CH_H);
    write_running_chart(fp, book, total, y1, y2, end);
    write_year_bars(fp, book);
    write_texts(fp, "</svg>\n");
}
