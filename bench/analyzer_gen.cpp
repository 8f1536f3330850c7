// Writes a directory of realistic trade files for varnock: HTML tables in
// Windows-1251 as a trading terminal exports them, several securities over
// two or more years, multi-fill orders, positions bought and later sold,
// header and summary rows, a few damaged rows, and files that overlap (the
// last rows of one file are repeated at the top of the next).
//
//   analyzer_gen DIR ROWS [FILES] [SEED]
//
// ROWS counts the distinct trades; overlapping rows come on top of them.

#include <sys/stat.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

uint64_t rng_state = 0x9e3779b97f4a7c15ULL;

uint64_t next_random()
{
    uint64_t z = (rng_state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

int pick(int n) { return (int)(next_random() % (uint64_t)n); }

struct security_t {
    const char *ticker;
    const char *name;   // cp1251 bytes
    double price;       // a starting price, in roubles
    int lot;            // units per lot
    int position;       // units held, so that sales follow purchases
};

// Latin and Cyrillic names (cp1251), as terminals show them.
security_t securities[] = {
    {"GAZP", "\xc3\xe0\xe7\xef\xf0\xee\xec \xe0\xee", 145.0, 10, 0},           // Газпром ао
    {"SBER", "\xd1\xe1\xe5\xf0\xe1\xe0\xed\xea", 92.0, 10, 0},                 // Сбербанк
    {"SBERP", "\xd1\xe1\xe5\xf0\xe1\xe0\xed\xea-\xef", 71.0, 100, 0},          // Сбербанк-п
    {"LKOH", "\xcb\xd3\xca\xce\xc9\xcb \xe0\xee", 1950.0, 1, 0},               // ЛУКОЙЛ ао
    {"GMKN", "\xc3\xcc\xca \xcd\xee\xf0\xcd\xe8\xea\xe5\xeb\xfc", 5400.0, 1, 0}, // ГМК НорНикель
    {"ROSN", "\xd0\xee\xf1\xed\xe5\xf4\xf2\xfc", 235.0, 10, 0},                // Роснефть
    {"VTBR", "\xc2\xd2\xc1 \xe0\xee", 0.0512, 10000, 0},                       // ВТБ ао
    {"MTSS", "\xcc\xd2\xd1-\xe0\xee", 248.0, 10, 0},                           // МТС-ао
    {"YNDX", "Yandex clA", 870.0, 1, 0},
    {"MAIL", "Mail.ru-gdr", 1150.0, 1, 0},
    {"HYDR", "\xd0\xf3\xf1\xc3\xe8\xe4\xf0\xee", 0.78, 1000, 0},               // РусГидро
    {"AFLT", "\xc0\xfd\xf0\xee\xf4\xeb\xee\xf2", 56.4, 100, 0},                // Аэрофлот
    {"MGNT", "\xcc\xe0\xe3\xed\xe8\xf2 \xe0\xee", 4150.0, 1, 0},               // Магнит ао
    {"TATN", "\xd2\xe0\xf2\xed\xe5\xf4\xf2\xfc 3\xe0\xee", 189.0, 10, 0},      // Татнефть 3ао
    {"NLMK", "\xcd\xcb\xcc\xca \xe0\xee", 61.0, 10, 0},                        // НЛМК ао
    {"URKA", "Uralkali", 237.0, 10, 0},
    {"SIBN", "\xc3\xe0\xe7\xef\xf0\xee\xec \xed\xe5\xf4\xf2\xfc", 128.0, 10, 0}, // Газпром нефть
    {"MOEX", "MoscowExchange", 52.0, 10, 0},
};
const int n_securities = sizeof securities / sizeof securities[0];

const char *buy_word = "\xca\xf3\xef\xeb\xff";                 // Купля
const char *sale_word = "\xcf\xf0\xee\xe4\xe0\xe6\xe0";        // Продажа
const char *board = "\xd4\xc1 \xcc\xcc\xc2\xc1";               // ФБ ММВБ

// "14 550.00": money with blanks between groups of three digits.
std::string money_text(double v)
{
    char digits[64];
    snprintf(digits, sizeof digits, "%.2f", v);
    std::string whole(digits, strchr(digits, '.') - digits), out;
    for (size_t k = 0; k < whole.size(); k++) {
        if (k > 0 && (whole.size() - k) % 3 == 0)
            out += ' ';
        out += whole[k];
    }
    return out + strchr(digits, '.');
}

struct clock_t_ {
    int y = 2012, mo = 1, d = 10, h = 10, mi = 0, s = 0;
};

int days_in(int y, int mo)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return mo == 2 && y % 4 == 0 ? 29 : days[mo - 1];
}

// Moves the clock on by some seconds within a trading day (10:00 to 18:45),
// to the next working day when the day is over.
void advance(clock_t_ &c, int seconds)
{
    c.s += seconds;
    c.mi += c.s / 60, c.s %= 60;
    c.h += c.mi / 60, c.mi %= 60;
    if (c.h >= 19 || (c.h == 18 && c.mi >= 45)) {
        c.h = 10, c.mi = pick(5), c.s = pick(60);
        int step = 1 + (pick(5) == 0 ? 2 : 0);
        c.d += step;
        while (c.d > days_in(c.y, c.mo)) {
            c.d -= days_in(c.y, c.mo);
            if (++c.mo > 12)
                c.mo = 1, c.y++;
        }
    }
}

struct row_t {
    std::string html;
};

std::string cell(const char *attrs, const std::string &text)
{
    return std::string("<td") + attrs + ">" + text + "</td>";
}

std::string trade_row(const clock_t_ &c, int64_t no, int64_t order, const security_t &sec, bool buy,
                      double price, int units)
{
    char date[64], number[32], ord[32], px[32];
    snprintf(date, sizeof date, "%02d.%02d.%04d %02d:%02d:%02d", c.d, c.mo, c.y, c.h, c.mi, c.s);
    snprintf(number, sizeof number, "%" PRId64, no);
    snprintf(ord, sizeof ord, "%" PRId64, order);
    snprintf(px, sizeof px, price < 1 ? "%.4f" : "%.2f", price);
    double amount = atof(px) * units;
    double broker = (int64_t)(amount * 0.0354 + 0.5) / 100.0;
    double exchange = (int64_t)(amount * 0.01 + 0.5) / 100.0;
    std::string r = "<tr>";
    r += cell(" class=\"d\" nowrap", date);
    r += cell(" align=\"right\"", number);
    r += cell(" align=\"right\"", ord);
    r += cell(" align=\"left\"", sec.ticker);
    r += cell(" align=\"left\"", sec.name);
    r += cell(" align=\"left\"", board);
    r += cell(" align=\"center\"", buy ? buy_word : sale_word);
    r += cell(" align=\"center\"", "T0");
    r += cell(" align=\"right\"", px);
    r += cell(" align=\"right\"", money_text(amount));
    r += cell(" align=\"right\"", money_text(broker));
    r += cell(" align=\"right\"", money_text(exchange));
    r += cell(" align=\"right\"", "0.00");
    r += cell(" align=\"right\"", "");
    r += cell(" align=\"right\"", "0");
    r += cell(" align=\"left\"", "L01-00000F00");
    return r + "</tr>\n";
}

const char *file_head =
    "<html>\n<head>\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1251\">\n"
    "<title>\xd1\xe4\xe5\xeb\xea\xe8</title>\n</head>\n<body>\n"
    "<table border=\"1\" cellspacing=\"0\" cellpadding=\"2\">\n"
    "<tr><th>\xc4\xe0\xf2\xe0 \xe8 \xe2\xf0\xe5\xec\xff</th><th>\xb9 \xf1\xe4\xe5\xeb\xea\xe8</th>"
    "<th>\xb9 \xe7\xe0\xff\xe2\xea\xe8</th><th>\xca\xee\xe4</th><th>\xc1\xf3\xec\xe0\xe3\xe0</th>"
    "<th>\xcf\xeb\xee\xf9\xe0\xe4\xea\xe0</th><th>\xce\xef\xe5\xf0\xe0\xf6\xe8\xff</th>"
    "<th>\xd0\xe0\xf1\xf7\xe5\xf2\xfb</th><th>\xd6\xe5\xed\xe0</th><th>\xce\xe1\xfa\xe5\xec</th>"
    "<th>\xca\xee\xec. \xe1\xf0\xee\xea\xe5\xf0\xe0</th><th>\xca\xee\xec. \xc1\xe8\xf0\xe6\xe8</th>"
    "<th>\xca\xee\xec. \xca\xeb\xe8\xf0.</th><th>\xca\xee\xec. \xd2\xd1</th><th>\xcd\xca\xc4</th>"
    "<th>\xd1\xf7\xe5\xf2</th></tr>\n";

// A row the import rejects now and then: a date the scan cannot read, or an
// operation that is neither a purchase nor a sale.
std::string damaged_row(const std::string &good, int kind)
{
    std::string r = good;
    if (kind == 0) {
        size_t at = r.find("nowrap>") + 7;
        std::string iso = r.substr(at + 6, 4) + "-" + r.substr(at + 3, 2) + "-" + r.substr(at, 2);
        r.replace(at, 10, iso);
    } else {
        size_t at = r.find(buy_word);
        if (at == std::string::npos)
            at = r.find(sale_word);
        size_t end = r.find("</td>", at);
        r.replace(at, end - at, "\xd0\xe5\xef\xee");   // Репо
    }
    return r;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s DIR ROWS [FILES] [SEED]\n", argv[0]);
        return 2;
    }
    std::string dir = argv[1];
    long rows = atol(argv[2]);
    int files = argc > 3 ? atoi(argv[3]) : 4;
    if (argc > 4)
        rng_state ^= strtoull(argv[4], nullptr, 10) * 0x2545F4914F6CDD1DULL;
    if (files < 1)
        files = 1;
    mkdir(dir.c_str(), 0777);

    std::vector<row_t> all;
    all.reserve((size_t)rows);
    clock_t_ c;
    int64_t trade_no = 1800000000 + pick(1000000), order_no = 4100000000LL + pick(1000000);
    // The data spans about three years of working days (some 31,500 trading
    // seconds each), whatever the number of rows.
    long mean_gap = std::max<long>(1, 750L * 31500 / std::max<long>(rows, 1));
    while ((long)all.size() < rows) {
        security_t &sec = securities[pick(n_securities)];
        bool buy = sec.position == 0 || pick(3) > 0 ? sec.position < 50 * sec.lot || pick(2) : false;
        if (sec.position == 0)
            buy = true;
        int lots = 1 + pick(20);
        int units = buy ? lots * sec.lot : std::min(sec.position, lots * sec.lot);
        if (!buy && pick(2))
            units = sec.position;   // close the whole position
        sec.price *= 1 + (pick(2001) - 1000) / 50000.0;
        int fills = pick(4) == 0 ? 2 + pick(3) : 1;
        order_no += 1 + pick(7);
        int left = units;
        for (int f = 0; f < fills && left > 0 && (long)all.size() < rows; f++) {
            int part = f == fills - 1 ? left : std::max(sec.lot, left / (fills - f) / sec.lot * sec.lot);
            part = std::min(part, left);
            double price = sec.price * (1 + (pick(21) - 10) / 10000.0);
            trade_no += 1 + pick(40);
            all.push_back({trade_row(c, trade_no, order_no, sec, buy, price, part)});
            left -= part;
            advance(c, pick(4));
        }
        sec.position += buy ? units - left : -(units - left);
        advance(c, (int)(1 + next_random() % (uint64_t)(2 * mean_gap)));
    }

    // Cut into files; every file but the first repeats the last tenth of the
    // previous one, as repeated exports do.
    long per_file = (rows + files - 1) / files;
    for (int f = 0; f < files; f++) {
        long from = f * per_file, to = std::min(rows, from + per_file);
        if (f > 0)
            from -= per_file / 10;
        char name[64];
        snprintf(name, sizeof name, "%s/sdelki_%02d.xls", dir.c_str(), f + 1);
        FILE *fp = fopen(name, "wb");
        if (!fp) {
            perror(name);
            return 1;
        }
        fputs(file_head, fp);
        for (long i = from; i < to; i++) {
            if (pick((int)std::min<long>(2000, std::max<long>(rows / 3, 1))) == 0)
                fputs(damaged_row(all[i].html, pick(2)).c_str(), fp);
            fputs(all[i].html.c_str(), fp);
        }
        // The terminal's summary line: too few cells for a trade.
        fprintf(fp, "<tr><td colspan=\"9\">\xc8\xf2\xee\xe3\xee</td><td align=\"right\">%ld</td></tr>\n",
                to - from);
        fputs("</table>\n</body>\n</html>\n", fp);
        fclose(fp);
    }
    return 0;
}
