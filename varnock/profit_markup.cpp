// Markup shared by the sections of the profit page.

#include "profit_markup.h"

#include "money_text.h"
#include "output.h"

// The replacement of a byte the page cannot hold as it is, or null.
static const char *escape_of(unsigned char c)
{
    switch (c) {
    case '&':
        return "&amp;";
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    case '\t':
    case '\n':
    case '\r':
        return nullptr;
    default:
        return c < 0x20 || c == 0x98 ? "?" : nullptr;
    }
}

void put_escaped(FILE *fp, const char *s)
{
    const char *plain = s;
    for (; *s; s++) {
        if (const char *escape = escape_of((unsigned char)*s)) {
            write_bytes(fp, plain, (size_t)(s - plain));
            write_texts(fp, escape);
            plain = s + 1;
        }
    }
    write_bytes(fp, plain, (size_t)(s - plain));
}

void put_result_cell(FILE *fp, int64_t kopecks)
{
    write_format(fp, "<td align=\"right\"><font color=\"%s\">%s</font></td>", kopecks < 0 ? "red" : "darkgreen",
            stk(kopecks));
}

void put_table_head(FILE *fp, const char *id, bool accounts, std::initializer_list<const char *> titles)
{
    write_format(fp, "<table id=\"%s\" border=\"1\" cellspacing=\"0\" cellpadding=\"5\">\n<tr>", id);
    if (accounts)
        write_format(fp, "<th>%s</th>", pf_account);
    for (const char *title : titles)
        write_format(fp, "<th>%s</th>", title);
    write_texts(fp, "</tr>\n");
}

void put_heading(FILE *fp, const char *title)
{
    write_format(fp, "<h2>%s</h2>\n", title);
}
