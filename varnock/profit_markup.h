// Markup that the sections of the profit page share: escaped texts, table
// heads and money cells.  Included by the profit page's modules only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>

// "Счет", the title of the account column (Windows-1251).
inline constexpr char pf_account[] = "\xD1\xF7\xE5\xF2";
// "Итого", the label of a total row.
inline constexpr char pf_total[] = "\xC8\xF2\xEE\xE3\xEE";
// "Год", the title of a year column.
inline constexpr char pf_year[] = "\xC3\xEE\xE4";

// Writes s with "&", "<" and ">" as entities and bytes that are no XML
// character in Windows-1251 (controls other than tab and line ends, and the
// unassigned 0x98) as "?".
void put_escaped(FILE *fp, const char *s);
// A result cell, right-aligned, in green when not negative and red when
// negative.
void put_result_cell(FILE *fp, int64_t kopecks);
// The table's opening and its heading row, led by an account column when
// accounts is set.
void put_table_head(FILE *fp, const char *id, bool accounts, std::initializer_list<const char *> titles);
// Writes "<h2>title</h2>".
void put_heading(FILE *fp, const char *title);
