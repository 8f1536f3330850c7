// The spreadsheet exports: every trade with its part in the lots, and every
// piece of a lot closed by a trade.

#include "csv_export.h"

#include "money_text.h"
#include "output.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <string>
#include <vector>

// The Unicode code points of the Windows-1251 bytes 0x80 to 0xBF; 0xC0 to
// 0xFF are U+0410 to U+044F.  0x98 has none and is written as "?".
static const uint16_t cp1251_high[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,   // 0x80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,   // 0x88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,   // 0x90
    0x003F, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,   // 0x98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,   // 0xA0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,   // 0xA8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,   // 0xB0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,   // 0xB8
};

// Appends the UTF-8 of one Windows-1251 byte.
static void put_utf8(std::string &out, unsigned char c)
{
    unsigned u = c < 0x80 ? c : c < 0xC0 ? cp1251_high[c - 0x80] : 0x0410 + (c - 0xC0);
    if (u < 0x80) {
        out += (char)u;
    } else if (u < 0x800) {
        out += (char)(0xC0 | u >> 6);
        out += (char)(0x80 | (u & 0x3F));
    } else {
        out += (char)(0xE0 | u >> 12);
        out += (char)(0x80 | ((u >> 6) & 0x3F));
        out += (char)(0x80 | (u & 0x3F));
    }
}

// A Windows-1251 text as one CSV field in UTF-8: quoted, with its quotes
// doubled, when it holds ";", '"', CR or LF.
static std::string csv_field(const char *text)
{
    std::string out;
    bool quoted = strpbrk(text, ";\"\r\n") != nullptr;
    if (quoted)
        out += '"';
    for (const char *p = text; *p; p++) {
        if (*p == '"')
            out += '"';
        put_utf8(out, (unsigned char)*p);
    }
    if (quoted)
        out += '"';
    return out;
}

// The fields of the names, converted once per shared copy: names repeat on
// almost every row.  A small table by the copy's address; a name that meets
// another in its slot is converted again.
class field_cache_t {
  public:
    const std::string &field(const char *text)
    {
        entry_t &e = entries[(reinterpret_cast<uintptr_t>(text) >> 3) % size];
        if (e.text != text) {
            e.text = text;
            e.field = text ? csv_field(text) : std::string();
        }
        return e.field;
    }

  private:
    struct entry_t {
        const char *text = nullptr;
        std::string field;
    };
    static const size_t size = 1021;
    std::vector<entry_t> entries = std::vector<entry_t>(size);
};

// One line of a CSV file, composed in a buffer of its own and written whole.
class csv_line_t {
  public:
    explicit csv_line_t(FILE *fp) : fp(fp) {}

    // Room for one field of up to 340 bytes.
    char *room() { return reserve(340); }
    // Ends the field that room() began at end.
    void close_field(char *end)
    {
        *end++ = ';';
        used = (size_t)(end - text.data());
    }
    void field(const char *s, size_t len)
    {
        char *o = reserve(len);
        memcpy(o, s, len);
        close_field(o + len);
    }
    void field(const std::string &s) { field(s.data(), s.size()); }
    void field(const char *s) { field(s, strlen(s)); }
    // Writes the line, its last ";" replaced by CR LF.
    void end()
    {
        char *o = reserve(2) - 1;
        memcpy(o, "\r\n", 2);
        write_bytes(fp, text.data(), used + 1);
        used = 0;
    }

  private:
    // The end of the line, with room for len more bytes and a ";".
    char *reserve(size_t len)
    {
        if (text.size() < used + len + 1)
            text.resize(2 * (used + len + 1));
        return text.data() + used;
    }

    FILE *fp;
    std::vector<char> text;
    size_t used = 0;
};

static void put_money(csv_line_t &line, int64_t kopecks)
{
    line.close_field(put_kopecks(line.room(), kopecks, ',', false));
}

// Money of a cell: the kopecks the lots count, or an empty field for money
// that is no finite number of kopecks.
static void put_cell_money(csv_line_t &line, double v)
{
    int64_t kopecks;
    if (to_kopecks(v, &kopecks))
        put_money(line, kopecks);
    else
        line.field("", 0);
}

// A quantity or price with up to six decimals, no trailing zeros, ","
// before the decimals; an empty field when it is not finite.
static void put_decimal(csv_line_t &line, double v)
{
    if (!std::isfinite(v))
        return line.field("", 0);
    char *o = line.room(), *end = fixed_text(o, v, 6);
    char *point = end - 7;
    *point = ',';
    while (end[-1] == '0')
        end--;
    if (end[-1] == ',')
        end--;
    if (end - o == 2 && o[0] == '-' && o[1] == '0')
        *o = '0', end--;
    line.close_field(end);
}

static void put_date(csv_line_t &line, const transaction_t *t)
{
    line.close_field(put_date_time(line.room(), t));
}

static void put_number(csv_line_t &line, int64_t v)
{
    line.close_field(put_int(line.room(), v, 1));
}

static void put_heading(FILE *fp, std::initializer_list<const char *> titles)
{
    csv_line_t line(fp);
    for (const char *title : titles)
        line.field(title);
    write_bytes(fp, "\xEF\xBB\xBF", 3);
    line.end();
}

// The trades in time order, then by number: mostly in that order already.
static std::vector<const transaction_t *> trades_in_time_order(const transaction_t *T, int n)
{
    std::vector<const transaction_t *> order((size_t)n);
    for (int i = 0; i < n; i++)
        order[(size_t)i] = T + i;
    auto before = [](const transaction_t *a, const transaction_t *b) {
        int c = cmp_transaction_time(a, b);
        return c != 0 ? c < 0 : a->no < b->no;
    };
    if (!std::is_sorted(order.begin(), order.end(), before))
        std::sort(order.begin(), order.end(), before);
    return order;
}

void write_trades_csv(FILE *fp, const transaction_t *T, int n, const profit_book_t &book)
{
    put_heading(fp, {"Дата и время", "№ сделки", "№ заявки", "Счет", "Код", "Бумага", "Операция", "Цена",
                     "Количество", "Сумма", "Комиссия", "В расчете"});
    std::vector<bool> left_out((size_t)n, false);
    for (const transaction_t *t : book.skipped)
        left_out[(size_t)(t - T)] = true;
    field_cache_t accounts, tickers, names;
    csv_line_t line(fp);
    for (const transaction_t *t : trades_in_time_order(T, n)) {
        put_date(line, t);
        put_number(line, t->no);
        put_number(line, t->order);
        line.field(accounts.field(t->account));
        line.field(tickers.field(t->ticker));
        line.field(names.field(t->stock));
        line.field(t->direction == 1 ? "Купля" : "Продажа");
        put_decimal(line, t->price);
        put_decimal(line, t->amount / t->price);
        put_cell_money(line, t->amount);
        put_cell_money(line, t->commission);
        line.field(left_out[(size_t)(t - T)] ? "нет" : "да");
        line.end();
    }
}

void write_lots_csv(FILE *fp, const profit_book_t &book)
{
    put_heading(fp, {"Счет", "Код", "Бумага", "Позиция", "Дата открытия", "Сделка открытия", "Дата закрытия",
                     "Сделка закрытия", "Количество", "Сумма открытия", "Сумма закрытия", "Комиссия", "Результат",
                     "Дней", "Год"});
    field_cache_t accounts, tickers, names;
    csv_line_t line(fp);
    for (const lot_closing_t &c : book.closings) {
        const transaction_t *o = c.opening, *t = c.closing;
        line.field(accounts.field(t->account));
        line.field(tickers.field(t->ticker));
        line.field(names.field(t->stock));
        line.field(c.is_long() ? "длинная" : "короткая");
        put_date(line, o);
        put_number(line, o->no);
        put_date(line, t);
        put_number(line, t->no);
        put_decimal(line, c.quantity);
        put_money(line, c.opening_money);
        put_money(line, c.closing_money);
        put_money(line, c.fees);
        put_money(line, c.result());
        put_number(line, civil_day(t->y, t->mo, t->d) - civil_day(o->y, o->mo, o->d));
        put_number(line, t->y);
        line.end();
    }
}

void write_exports(const transaction_t *T, int n, const profit_book_t &book)
{
    FILE *fp = open_output("trades.csv", "wb");
    write_trades_csv(fp, T, n, book);
    close_output(fp);
    fp = open_output("lots.csv", "wb");
    write_lots_csv(fp, book);
    close_output(fp);
}
