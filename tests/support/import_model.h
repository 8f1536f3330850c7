// The trade-table import read the plain, slow way: every row cut with strstr,
// copied, split into cells, stripped of tags and spaces and read with sscanf,
// strtoq1 and atof, and the lines written with the documented formats.  Tests
// and the fuzz target check the analyzer's fast import against it.
#pragma once

#include "keltools.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace import_model {

struct record {
    int d = 0, mo = 0, y = 0, h = 0, mi = 0, s = 0;
    long long no = 0, order = 0;
    std::string ticker, stock;
    int direction = 0;
    double price = 0, amount = 0, commission = 0;
};

inline const char buy[] = "\xca\xf3\xef\xeb\xff";           // the buy word, cp1251
inline const char sale[] = "\xcf\xf0\xee\xe4\xe0\xe6\xe0";  // the sale word, cp1251

inline void remove_spaces(char *s)
{
    char *o = s;
    for (; *s; s++)
        if (*s != ' ')
            *o++ = *s;
    *o = 0;
}

// The row parser, step by step: 0 or the reject code.
inline int parse_row(const char *row, record *T)
{
    std::string copy(row);
    char *p = copy.data();
    std::vector<char *> w;
    for (;;) {
        char *td = strstr(p, "<td");
        if (!td)
            break;
        char *gt = strchr(td, '>');
        if (!gt)
            break;
        char *close = strstr(gt, "</td>");
        if (!close)
            break;
        *close = 0;
        w.push_back(gt + 1);
        if (w.size() == 64)
            return -1;
        p = close + 1;
    }
    if (w.size() != 16)
        return -1;
    for (char *cell : w) {
        for (;;) {
            char *lt = strchr(cell, '<');
            if (!lt)
                break;
            char *gt = strchr(lt, '>');
            if (!gt)
                return -1;
            memmove(lt, gt + 1, strlen(gt + 1) + 1);
        }
    }
    for (int i = 7; i < 16; i++)
        remove_spaces(w[i]);
    if (sscanf(w[0], "%d.%d.%d %d:%d:%d", &T->d, &T->mo, &T->y, &T->h, &T->mi, &T->s) < 6)
        return -2;
    T->no = strtoq1(w[1], nullptr, 10);
    T->order = strtoq1(w[2], nullptr, 10);
    T->ticker = w[3];
    T->stock = w[4];
    if (strcmp(w[6], buy) == 0)
        T->direction = 1;
    else if (strcmp(w[6], sale) == 0)
        T->direction = 2;
    else
        return -4;
    T->price = atof(w[8]);
    T->amount = atof(w[9]);
    T->commission = 0;
    for (int i = 10; i <= 14; i++)
        T->commission += atof(w[i]);
    return 0;
}

// printf into a string of any length.
inline std::string format(const char *fmt, ...)
{
    va_list args, again;
    va_start(args, fmt);
    va_copy(again, args);
    int n = vsnprintf(nullptr, 0, fmt, args);
    va_end(args);
    std::vector<char> out((size_t)(n > 0 ? n : 0) + 1);
    vsnprintf(out.data(), out.size(), fmt, again);
    va_end(again);
    return std::string(out.data(), out.size() - 1);
}

inline std::string trade_line(const record &T)
{
    std::string order = format("%llu", (unsigned long long)T.order);
    return format("%02d.%02d.%04d %02d:%02d:%02d %15s %12s %1d %10.5f %15.3f %5.3f\n", T.d, T.mo,
                  T.y, T.h, T.mi, T.s, order.c_str(), T.stock.c_str(), T.direction, T.price,
                  T.amount, T.commission);
}

// The row loop over a loaded text; text is changed as the import changes it.
inline void import(char *text, std::vector<record> *records, std::string *imported, std::string *garbage)
{
    char *p = text;
    for (;;) {
        char *tr = strstr(p, "<tr>");
        if (!tr)
            break;
        char *close = strstr(tr, "</tr>");
        if (!close)
            break;
        *close = 0;
        const char *row = tr + 4;
        record T;
        int r = parse_row(row, &T);
        if (r == 0) {
            *imported += trade_line(T);
            records->push_back(T);
        } else {
            *garbage += format("%d| %s\n", r, row);
        }
        p = close + 1;
    }
}

}  // namespace import_model
