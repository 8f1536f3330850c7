// The spreadsheet exports: every trade with its part in the lots, and every
// piece of a lot closed by a trade.

#include "csv_export.h"
#include "encodings.h"

#include "output.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <string>
#include <vector>

// The field writers are small and called for every field: always inlined.
#define CSV_INLINE [[gnu::always_inline]] inline

// Appends the UTF-8 of one Windows-1251 byte.
static void put_utf8(std::string &out, unsigned char c)
{
    uint32_t u = cp1251_code_point(c);
    if (u == 0 && c != 0)
        u = '?';  // 0x98 stands for no character
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

// The names of a row as its fields "account;code;name;", converted once per
// security and account: rows repeat them.  A small table by the addresses
// of the shared copies; names that meet others in their slot are converted
// again.
class names_cache_t {
  public:
    CSV_INLINE const std::string &fields(const transaction_t *t)
    {
        if (last && last->stock == t->stock && last->ticker == t->ticker && last->account == t->account)
            return last->text;
        uintptr_t key = reinterpret_cast<uintptr_t>(t->stock) ^ reinterpret_cast<uintptr_t>(t->ticker) >> 5 ^
                        reinterpret_cast<uintptr_t>(t->account) >> 9;
        entry_t &e = entries[(key >> 3) % size];
        if (e.stock != t->stock || e.ticker != t->ticker || e.account != t->account) {
            e.stock = t->stock;
            e.ticker = t->ticker;
            e.account = t->account;
            e.text = (t->account ? csv_field(t->account) : std::string()) + ";" + csv_field(t->ticker) + ";" +
                     csv_field(t->stock) + ";";
        }
        last = &e;
        return e.text;
    }

  private:
    struct entry_t {
        const char *stock = nullptr, *ticker = nullptr, *account = nullptr;
        std::string text;
    };
    static const size_t size = 1021;
    std::vector<entry_t> entries = std::vector<entry_t>(size);
    const entry_t *last = nullptr;
};

// The text of a CSV file, composed line by line in a buffer that goes to
// the stream when it is full.
class csv_out_t {
  public:
    explicit csv_out_t(FILE *fp) : fp(fp), text(1 << 18) {}

    // Room for a line of up to n bytes.
    char *room(size_t n)
    {
        if (used + n > text.size()) {
            flush();
            if (n > text.size())
                text.resize(n);
        }
        return text.data() + used;
    }
    // Ends the line that room() began: its last ";" becomes CR LF.
    void end_line(char *end)
    {
        end[-1] = '\r';
        *end++ = '\n';
        used = (size_t)(end - text.data());
    }
    void flush()
    {
        write_bytes(fp, text.data(), used);
        used = 0;
    }

  private:
    FILE *fp;
    std::vector<char> text;
    size_t used = 0;
};

// Room enough for a line's fields other than the names: a date is at most
// 71 bytes, a number 20, a decimal 330.
static const size_t fields_room = 16 * 340;

static const char digit_pairs[] =
    "0001020304050607080910111213141516171819202122232425262728293031323334353637383940414243444546474849"
    "5051525354555657585960616263646566676869707172737475767778798081828384858687888990919293949596979899";

CSV_INLINE static char *put_two_digits(char *o, unsigned v)
{
    memcpy(o, digit_pairs + 2 * v, 2);
    return o + 2;
}

// Four digits of v < 10000, with leading zeros.
CSV_INLINE static char *put_four_digits(char *o, uint32_t v)
{
    return put_two_digits(put_two_digits(o, v / 100), v % 100);
}

// The digits of v < 10000, without leading zeros.
CSV_INLINE static char *put_small(char *o, uint32_t v)
{
    if (v < 10) {
        *o = (char)('0' + v);
        return o + 1;
    }
    if (v < 100)
        return put_two_digits(o, v);
    if (v < 1000) {
        *o = (char)('0' + v / 100);
        return put_two_digits(o + 1, v % 100);
    }
    return put_four_digits(o, v);
}

// Appends the decimal digits of u, four at a time.
static char *put_digits(char *o, uint64_t u)
{
    if (u >= 100000000) {
        o = put_digits(o, u / 100000000);
        uint32_t low = (uint32_t)(u % 100000000);
        return put_four_digits(put_four_digits(o, low / 10000), low % 10000);
    }
    uint32_t v = (uint32_t)u;
    if (v < 10000)
        return put_small(o, v);
    return put_four_digits(put_small(o, v / 10000), v % 10000);
}

static char *put_text(char *o, const std::string &s)
{
    memcpy(o, s.data(), s.size());
    return o + s.size();
}

template <size_t n>
static char *put_word(char *o, const char (&word)[n])
{
    memcpy(o, word, n - 1);
    o[n - 1] = ';';
    return o + n;
}

CSV_INLINE static char *put_number(char *o, int64_t v)
{
    if (v < 0)
        *o++ = '-';
    uint64_t u = v < 0 ? 0 - (uint64_t)v : (uint64_t)v;
    o = u < 10000 ? put_small(o, (uint32_t)u) : put_digits(o, u);
    *o++ = ';';
    return o;
}

// Trade and order numbers of neighbouring rows mostly share all but their
// last digits: the text of the last number without its last four digits is
// kept and reused.
struct number_text_t {
    uint64_t high = UINT64_MAX;
    char text[24];
    size_t len = 0;
};

CSV_INLINE static char *put_id(char *o, int64_t v, number_text_t &last)
{
    if (v < 10000)
        return put_number(o, v);
    uint64_t high;
    uint32_t low;
    if ((uint64_t)v >> 32 == 0) {   // 32-bit arithmetic where it will do
        high = (uint32_t)v / 10000;
        low = (uint32_t)v % 10000;
    } else {
        high = (uint64_t)v / 10000;
        low = (uint32_t)((uint64_t)v % 10000);
    }
    if (high != last.high) {
        last.high = high;
        last.len = (size_t)(put_digits(last.text, high) - last.text);
    }
    memcpy(o, last.text, 20);
    o = put_four_digits(o + last.len, low);
    *o++ = ';';
    return o;
}

// The text "dd.mm.yyyy " of the last date written, and its day number:
// rows mostly share them.
struct day_text_t {
    int32_t d = -1, mo = -1, y = -1;
    char text[12];
    int64_t number;
};

// "dd.mm.yyyy hh:mm:ss", as the other outputs write it.
CSV_INLINE static char *put_date(char *o, const transaction_t *t, day_text_t &day)
{
    bool usual_time = (uint32_t)t->h < 100 && (uint32_t)t->mi < 100 && (uint32_t)t->s < 100;
    bool same_day = t->d == day.d && t->mo == day.mo && t->y == day.y;
    if (!same_day && usual_time && (uint32_t)t->d < 100 && (uint32_t)t->mo < 100 && (uint32_t)t->y < 10000) {
        char *p = put_two_digits(day.text, (unsigned)t->d);
        *p++ = '.';
        p = put_two_digits(p, (unsigned)t->mo);
        *p++ = '.';
        p = put_four_digits(p, (uint32_t)t->y);
        *p = ' ';
        day.d = t->d, day.mo = t->mo, day.y = t->y;
        day.number = civil_day(t->y, t->mo, t->d);
        same_day = true;
    }
    if (same_day && usual_time) {
        memcpy(o, day.text, 11);
        o += 11;
        o = put_two_digits(o, (unsigned)t->h), *o++ = ':';
        o = put_two_digits(o, (unsigned)t->mi), *o++ = ':';
        o = put_two_digits(o, (unsigned)t->s);
    } else {
        o = put_date_time(o, t);
        day.d = -1;
        day.number = civil_day(t->y, t->mo, t->d);
    }
    *o++ = ';';
    return o;
}

// The fields "date and time;number;" of the last trade written in a column
// of lots.csv (the pieces that one trade closes follow each other), with the
// caches they were written with.
struct trade_text_t {
    const transaction_t *t = nullptr;
    size_t len = 0;
    char text[64];
    day_text_t day;
    number_text_t no;
};

CSV_INLINE static char *put_trade(char *o, const transaction_t *t, trade_text_t &last)
{
    if (t == last.t) {
        memcpy(o, last.text, sizeof last.text);
        return o + last.len;
    }
    char *start = o;
    o = put_id(put_date(o, t, last.day), t->no, last.no);
    last.len = (size_t)(o - start);
    last.t = last.len <= sizeof last.text ? t : nullptr;
    memcpy(last.text, start, sizeof last.text);
    return o;
}

// Money: roubles, "," and two digits of kopecks.
CSV_INLINE static char *put_money(char *o, int64_t kopecks)
{
    uint64_t magnitude = kopecks < 0 ? 0 - (uint64_t)kopecks : (uint64_t)kopecks;
    if (kopecks < 0)
        *o++ = '-';
    uint32_t kopeck_digits;
    if (magnitude >> 32 == 0) {   // below 42,949,672.96: 32-bit arithmetic only
        uint32_t whole = (uint32_t)magnitude / 100;
        kopeck_digits = (uint32_t)magnitude % 100;
        o = whole < 10000 ? put_small(o, whole) : put_four_digits(put_small(o, whole / 10000), whole % 10000);
    } else {
        o = put_digits(o, magnitude / 100);
        kopeck_digits = (uint32_t)(magnitude % 100);
    }
    *o++ = ',';
    o = put_two_digits(o, kopeck_digits);
    *o++ = ';';
    return o;
}

// Money of a cell in kopecks, or an empty field for money that is no finite
// number of kopecks.
CSV_INLINE static char *put_cell_money(char *o, int64_t kopecks)
{
    if (kopecks != no_kopecks)
        return put_money(o, kopecks);
    *o++ = ';';
    return o;
}

// Drops the trailing zeros of the decimals [point + 1, end), and the point
// when none is left.
static char *trim_decimals(char *point, char *end)
{
    while (end > point + 1 && end[-1] == '0')
        end--;
    return end == point + 1 ? point : end;
}

// A quantity or price rounded to six decimals, without trailing zeros, ","
// before the decimals; an empty field when it is not finite.  Below 2^32 the
// millionths are rounded in double arithmetic (half to even, like the
// others), above the exact binary value is.
static char *put_decimal(char *o, double v)
{
    if (!std::isfinite(v)) {
        *o++ = ';';
        return o;
    }
    if (fabs(v) < 4294967296.0) {
        double millionths = v * 1e6, magic = 0x1.8p52;
        int64_t r = (int64_t)((millionths + magic) - magic);
        if (r < 0)
            *o++ = '-';
        uint64_t u = r < 0 ? 0 - (uint64_t)r : (uint64_t)r, whole = u / 1000000;
        o = whole < 10000 ? put_small(o, (uint32_t)whole) : put_digits(o, whole);
        if (uint32_t fraction = (uint32_t)(u % 1000000)) {
            char *point = o;
            *o++ = ',';
            if (fraction % 10000 == 0)
                o = trim_decimals(point, put_two_digits(o, fraction / 10000));
            else
                o = trim_decimals(point, put_two_digits(put_four_digits(o, fraction / 100), fraction % 100));
        }
    } else {
        char *end = fixed_text(o, v, 6);
        end[-7] = ',';
        o = trim_decimals(end - 7, end);
    }
    *o++ = ';';
    return o;
}

static void put_heading(FILE *fp, std::initializer_list<const char *> titles)
{
    std::string line = "\xEF\xBB\xBF";
    for (const char *title : titles)
        line += std::string(title) + ";";
    line.back() = '\r';
    line += '\n';
    write_bytes(fp, line.data(), line.size());
}

// The trades in time order, then by number: mostly in that order already.
static std::vector<const transaction_t *> trades_in_time_order(const transaction_t *T, int n)
{
    std::vector<const transaction_t *> order;
    order.reserve((size_t)n);
    for (int i = 0; i < n; i++)
        order.push_back(T + i);
    auto before = [](const transaction_t *a, const transaction_t *b) {
        if (a->y != b->y)
            return a->y < b->y;
        if (a->mo != b->mo)
            return a->mo < b->mo;
        if (a->d != b->d)
            return a->d < b->d;
        if (a->h != b->h)
            return a->h < b->h;
        if (a->mi != b->mi)
            return a->mi < b->mi;
        if (a->s != b->s)
            return a->s < b->s;
        return a->no < b->no;
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
    names_cache_t names;
    day_text_t day;
    number_text_t trade_no, order_no;
    csv_out_t out(fp);
    for (const transaction_t *t : trades_in_time_order(T, n)) {
        const std::string &fields = names.fields(t);
        char *o = out.room(fields.size() + fields_room);
        o = put_date(o, t, day);
        o = put_id(o, t->no, trade_no);
        o = put_id(o, t->order, order_no);
        o = put_text(o, fields);
        o = t->direction == 1 ? put_word(o, "Купля") : put_word(o, "Продажа");
        o = put_decimal(o, t->price);
        o = put_decimal(o, t->amount / t->price);
        const trade_money_t &m = book.money[(size_t)(t - T)];
        o = put_cell_money(o, m.money);
        o = put_cell_money(o, m.fees);
        o = left_out[(size_t)(t - T)] ? put_word(o, "нет") : put_word(o, "да");
        out.end_line(o);
    }
    out.flush();
}

void write_lots_csv(FILE *fp, const profit_book_t &book)
{
    put_heading(fp, {"Счет", "Код", "Бумага", "Позиция", "Дата открытия", "Сделка открытия", "Дата закрытия",
                     "Сделка закрытия", "Количество", "Сумма открытия", "Сумма закрытия", "Комиссия", "Результат",
                     "Дней", "Год"});
    names_cache_t names;
    trade_text_t opening, closing;
    csv_out_t out(fp);
    for (const lot_closing_t &c : book.closings) {
        const transaction_t *t = c.closing;
        const std::string &fields = names.fields(t);
        char *o = out.room(fields.size() + fields_room);
        o = put_text(o, fields);
        o = c.is_long() ? put_word(o, "длинная") : put_word(o, "короткая");
        o = put_trade(o, c.opening, opening);
        o = put_trade(o, t, closing);
        o = put_decimal(o, c.quantity);
        o = put_money(o, c.opening_money);
        o = put_money(o, c.closing_money);
        o = put_money(o, c.fees);
        o = put_money(o, c.result());
        o = put_number(o, closing.day.number - opening.day.number);
        o = put_number(o, t->y);
        out.end_line(o);
    }
    out.flush();
}

// The writers hand their text to the stream in large blocks of their own,
// so the stream passes them on unbuffered.
static FILE *open_csv(const char *name)
{
    FILE *fp = open_output(name, "wb");
    setvbuf(fp, nullptr, _IONBF, 0);
    return fp;
}

void write_exports(const transaction_t *T, int n, const profit_book_t &book)
{
    FILE *fp = open_csv("trades.csv");
    write_trades_csv(fp, T, n, book);
    close_output(fp);
    fp = open_csv("lots.csv");
    write_lots_csv(fp, book);
    close_output(fp);
}
