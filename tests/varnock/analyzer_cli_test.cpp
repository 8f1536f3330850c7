// What the program says about its input and its command line: trade files
// that cannot be read, rows cut off at the end of a file, rejected trade rows,
// exports saved in UTF-8 or UTF-16, files that give nothing or lose text, and
// the options.  Whole runs in fresh directories.

#include "encodings.h"

#include <gtest/gtest.h>

#include "test_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

using kt_test::read_file;
using kt_test::write_file;

namespace {

// A text in both encodings of an export.
struct Text {
    std::string utf8, cp1251;
};

Text operator+(const Text &a, const Text &b)
{
    return {a.utf8 + b.utf8, a.cp1251 + b.cp1251};
}

Text ascii(const std::string &s)
{
    return {s, s};
}

const Text buy = {"Купля", "\xCA\xF3\xEF\xEB\xFF"};

Text row(const std::string &date, const std::string &no, const Text &stock, const Text &direction,
         const std::string &price, const std::string &amount)
{
    std::vector<Text> cells = {ascii(date), ascii(no), ascii("70" + no), ascii("TICK"), stock,
                               ascii("MICEX"), direction, ascii("T0"), ascii(price), ascii(amount),
                               ascii("1"), ascii("0"), ascii("0"), ascii("0"), ascii("0"), ascii("L01")};
    Text r = ascii("<tr>");
    for (const Text &c : cells)
        r = r + ascii("<td>") + c + ascii("</td>");
    return r + ascii("</tr>\n");
}

// A buy of 10 Gazprom at 100 and its trade line.
const std::string gazprom = row("05.03.2013 10:00:00", "11", ascii("Gazprom"), buy, "100", "1000").cp1251;
const std::string gazprom_line =
    "05.03.2013 10:00:00            7011      Gazprom 1  100.00000        1000.000 1.000\n";
const std::string gazprom_totals = "1 unique transactions\nSpent:  1,000\nGained: 0\nVolume: 1,000\n"
                                   "Comms:  1\n1 orders\nsuccess\n";

struct RunDir {
    kt_test::TempDir dir;
    kt_test::ChildResult result;

    void put(const std::string &name, const std::string &bytes) const { write_file(dir.file(name), bytes); }
    std::string get(const std::string &name) const { return kt_test::read_text_file(dir.file(name)); }
    void run(const std::string &args = "") { result = kt_test::run_command(dir.path(), VARNOCK_PATH + args); }
    bool untouched() const { return kt_test::file_exists(dir.file("imported.txt")) == false; }
};

bool ends_with(const std::string &s, const std::string &tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Pipes, dangling links, empty files and a run that goes on: see
// fault_analyzer_test.
TEST(UnreadableTradeFile, ADirectoryIsNamedWithTheSystemsReason)
{
    RunDir r;
    ASSERT_EQ(mkdir(r.dir.file("sdelki_x.xls").c_str(), 0755), 0);
    r.run();
    EXPECT_EQ(r.result.status, 1);
    EXPECT_EQ(r.result.err, "reading sdelki_x.xls...\nwarning: cannot read sdelki_x.xls (Is a directory)\n"
                            "no transactions were found\n");
}

// A file without read permission; root reads anything, so a root run drops
// to an unprivileged user in the child that starts the program.
TEST(UnreadableTradeFile, WithoutPermissionGivesPermissionDenied)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: permission bits and unprivileged users";
#else
    RunDir r;
    r.put("sdelki_locked.xls", gazprom);
    ASSERT_EQ(chmod(r.dir.file("sdelki_locked.xls").c_str(), 0), 0);
    ASSERT_EQ(chmod(r.dir.path().c_str(), 0777), 0);
    const uid_t nobody = 65534;
    auto result = kt_test::run_in_child([&] {
        if (geteuid() == 0 && (setgid(nobody) != 0 || setuid(nobody) != 0))
            _exit(77);
        if (chdir(r.dir.path().c_str()) != 0)
            _exit(77);
        execl(VARNOCK_PATH, "varnock", (char *)nullptr);
        _exit(77);
    });
    if (result.exited && result.status == 77)
        GTEST_SKIP() << "cannot run the program as an unprivileged user in " << r.dir.path();
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "reading sdelki_locked.xls...\n"
                          "warning: cannot read sdelki_locked.xls (Permission denied)\n"
                          "no transactions were found\n");
#endif
}

TEST(CutOffRow, IsReportedAfterTheFilesReadingLine)
{
    RunDir r;
    r.put("sdelki_cut.xls", "<table>\n" + gazprom + "<tr><td>05.03.2013 10:00:05</td><td>12</td><td>70");
    r.run();
    EXPECT_EQ(r.result.status, 0);
    EXPECT_EQ(r.result.err, "reading sdelki_cut.xls...\n"
                            "warning: sdelki_cut.xls: the last table row is not closed; it was not read\n"
                            "warning: sdelki_cut.xls: the table does not end; the file may be cut\n"
                            "1 transactions imported\n" + gazprom_totals);
    EXPECT_EQ(r.get("imported.txt"), gazprom_line);
    EXPECT_EQ(r.get("garbage.txt"), "");
}

TEST(RejectedTradeRows, AreCountedOverAllFilesBeforeTheImportCount)
{
    std::string no_date = row("2013-03-05 10:00:00", "12", ascii("Gazprom"), buy, "1", "1").cp1251;
    std::string no_direction = row("05.03.2013 10:00:00", "13", ascii("Gazprom"), ascii("Repo"), "1", "1").cp1251;
    std::string open_tag = row("05.03.2013 10:00:00", "14", ascii("a<b"), buy, "1", "1").cp1251;
    RunDir r;
    r.put("sdelki_a.xls", "<tr><th>Date</th></tr>\n" + gazprom + no_date + no_direction + open_tag);
    r.put("sdelki_b.xls", no_date + gazprom);
    r.run();
    EXPECT_EQ(r.result.status, 0);
    EXPECT_TRUE(ends_with(r.result.err, "\nwarning: 3 trade rows rejected, see garbage.txt\n"
                                        "2 transactions imported\n" + gazprom_totals))
        << r.result.err;

    RunDir none;
    none.put("sdelki.xls", "<table>" + no_direction + "</table>");
    none.run();
    EXPECT_EQ(none.result.status, 1);
    EXPECT_EQ(none.result.err, "reading sdelki.xls...\nwarning: no trades in sdelki.xls\n"
                               "warning: 1 trade rows rejected, see garbage.txt\nno transactions were found\n");
}

// The page without its footer, which holds the time of writing.
std::string without_footer(const std::string &page)
{
    return page.substr(0, page.rfind("<hr>\n"));
}

// One export with names in both encodings: letters of the upper half of the
// code page, a header row, a rejected row and characters Windows-1251 lacks.
Text export_file()
{
    Text elka = {"Ёлка «Север» №1", "\xA8\xEB\xEA\xE0 \xAB\xD1\xE5\xE2\xE5\xF0\xBB \xB9" "1"};
    Text ezhak = {"Їжак–Ґ™ β", "\xAF\xE6\xE0\xEA\x96\xA5\x99 ?"};
    Text sale = {"Продажа", "\xCF\xF0\xEE\xE4\xE0\xE6\xE0"};
    Text rent = {"Аренда", "\xC0\xF0\xE5\xED\xE4\xE0"};
    Text header = {"<tr><th>Дата</th><th>Сделка 😀</th><th>€ ‰ ‘x’ “y” • … \u00A0</th></tr>\n",
                   "<tr><th>\xC4\xE0\xF2\xE0</th><th>\xD1\xE4\xE5\xEB\xEA\xE0 ?</th>"
                   "<th>\x88 \x89 \x91x\x92 \x93y\x94 \x95 \x85 \xA0</th></tr>\n"};
    return ascii("<html><table>\n") + header + row("05.03.2013 10:00:00", "21", elka, buy, "100", "1000") +
           row("05.03.2013 11:00:00", "22", elka, sale, "110", "1100") +
           row("06.03.2013 10:00:00", "23", ezhak, buy, "50", "500") +
           row("06.03.2013 10:00:01", "24", ezhak, rent, "50", "500") + ascii("</table></html>\n");
}

TEST(Utf8Export, ImportsExactlyLikeTheWindows1251Export)
{
    Text file = export_file();
    RunDir cp;
    cp.put("sdelki.xls", file.cp1251);
    cp.run();
    ASSERT_EQ(cp.result.status, 0);
    // Never taken for UTF-8: the names keep their bytes.
    EXPECT_TRUE(cp.result.err.starts_with("reading sdelki.xls...\nwarning: 1 trade rows rejected, see garbage.txt\n"));
    EXPECT_TRUE(cp.get("imported.txt").starts_with(
        "05.03.2013 10:00:00            7021 \xA8\xEB\xEA\xE0 \xAB\xD1\xE5\xE2\xE5\xF0\xBB \xB9" "1 1 "));
    EXPECT_TRUE(cp.get("garbage.txt").starts_with("-1| <th>\xC4\xE0\xF2\xE0</th>"));

    std::string header_free = cp.result.err.substr(cp.result.err.find('\n') + 1);
    const char *files[] = {"imported.txt", "garbage.txt", "orders.txt", "report-2013.html", "report.html"};
    for (std::string prefix : {"\xEF\xBB\xBF", ""}) {
        RunDir u;
        // Without a byte-order mark the file ends in the first byte of a
        // character, which is dropped.
        u.put("sdelki.xls", prefix + file.utf8 + (prefix.empty() ? "\xD0" : ""));
        u.run();
        EXPECT_EQ(u.result.status, 0);
        EXPECT_EQ(u.result.err, "reading sdelki.xls (UTF-8)...\n" + header_free);
        for (const char *name : files)
            EXPECT_EQ(without_footer(u.get(name)), without_footer(cp.get(name))) << name << " " << prefix.size();
    }
}

bool utf8(const std::string &s)
{
    return is_utf8_export(s.data(), s.size());
}

std::string converted(std::string s)
{
    s.resize(utf8_to_cp1251(s.data(), s.size()));
    return s;
}

TEST(Utf8Export, OnlyStrictUtf8WithACyrillicLetterOrAByteOrderMarkIsConverted)
{
    EXPECT_TRUE(utf8("<td>\xD0\x90</td>"));                  // А
    EXPECT_TRUE(utf8("\xEF\xBB\xBF<td>plain</td>"));
    EXPECT_TRUE(utf8("\xD0\x80 \xD3\xBF"));                  // U+0400 and U+04FF
    EXPECT_TRUE(utf8("\xD0\xAF\xE2\x82"));                   // Я, then € cut by the end
    EXPECT_FALSE(utf8("<td>plain</td>"));
    EXPECT_FALSE(utf8("\xCE\xB1\xF0\x9F\x98\x80"));          // Greek α and an emoji
    EXPECT_FALSE(utf8("\xCA\xF3\xEF\xEB\xFF"));              // Купля in Windows-1251
    EXPECT_FALSE(utf8("\xD0\x90\xC0\xAF"));                  // overlong "/"
    EXPECT_FALSE(utf8("\xD0\x90\xE0\x80\xAF"));
    EXPECT_FALSE(utf8("\xD0\x90\xF0\x80\x80\xAF"));
    EXPECT_FALSE(utf8("\xD0\x90\xED\xA0\x80"));              // a surrogate
    EXPECT_FALSE(utf8("\xD0\x90\xF4\x90\x80\x80"));          // beyond U+10FFFF
    EXPECT_FALSE(utf8("\xD0\x90\xF5\x80\x80\x80"));
    EXPECT_FALSE(utf8("\xD0\x90\x80"));                      // a continuation byte alone
    EXPECT_FALSE(utf8("\xD0\x90\xD0"  "A"));                 // a character cut before the end
    EXPECT_FALSE(utf8("\xD0\x90\xE0\x80"));                  // cut at the end, but overlong already

    EXPECT_EQ(converted("\xEF\xBB\xBF" "a\xEF\xBB\xBF" "b"), "a?b");   // only the leading mark is dropped
    EXPECT_EQ(converted("\xD0\xAF\xE2\x82"), "\xDF");
    EXPECT_EQ(converted("\xC2\x98 \xD1\xA0 \xF0\x9F\x98\x80"), "? ? ?");   // U+0098, U+0460, an emoji
}

TEST(Utf8Export, EveryLetterAndSignOfWindows1251HasItsByte)
{
    // The upper half of the code page in byte order; 0x98 has no character.
    const std::vector<std::string> upper = {
        "Ђ", "Ѓ", "‚", "ѓ", "„", "…", "†", "‡", "€", "‰", "Љ", "‹", "Њ", "Ќ", "Ћ", "Џ",
        "ђ", "‘", "’", "“", "”", "•", "–", "—", "",  "™", "љ", "›", "њ", "ќ", "ћ", "џ",
        "\u00A0", "Ў", "ў", "Ј", "¤", "Ґ", "¦", "§", "Ё", "©", "Є", "«", "¬", "\u00AD", "®", "Ї",
        "°", "±", "І", "і", "ґ", "µ", "¶", "·", "ё", "№", "є", "»", "ј", "Ѕ", "ѕ", "ї"};
    const std::string letters = "АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдежзийклмнопрстуфхцчшщъыьэюя";
    std::string text, expected;
    for (int b = 0x80; b < 0xC0; b++)
        if (!upper[b - 0x80].empty()) {
            text += upper[b - 0x80];
            expected += (char)b;
        }
    text += letters;
    for (int b = 0xC0; b <= 0xFF; b++)
        expected += (char)b;
    ASSERT_TRUE(utf8(text));
    EXPECT_EQ(converted(text), expected);
}

// UTF-8 text as UTF-16 with a byte-order mark, little- or big-endian.
std::string utf16(const std::string &utf8, bool little)
{
    std::string out = little ? "\xFF\xFE" : "\xFE\xFF";
    auto put = [&](unsigned u) {
        char lo = (char)(u & 0xFF), hi = (char)(u >> 8);
        out += little ? std::string{lo, hi} : std::string{hi, lo};
    };
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = (unsigned char)utf8[i];
        int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        unsigned code = n == 1 ? c : c & (0x7F >> n);
        for (int k = 1; k < n; k++)
            code = code << 6 | ((unsigned char)utf8[i + k] & 0x3F);
        i += (size_t)n;
        if (code >= 0x10000) {
            put(0xD800 + ((code - 0x10000) >> 10));
            put(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            put(code);
        }
    }
    return out;
}

// A UTF-16 export imports exactly like the Windows-1251 one; the converter
// drops the mark and an odd last byte and gives "?" for what the code page
// lacks: a character beyond U+FFFF, a lone surrogate, a CJK letter.
TEST(Utf16Export, ImportsExactlyLikeTheWindows1251Export)
{
    using namespace std::string_literals;
    std::string le = "\xFF\xFE" "A\x00\x01\x04\xAC\x20\x3D\xD8\x00\xDE\x00\xDC\x2D\x4E" "x"s;
    std::string be = "\xFE\xFF\x00" "A\x04\x01\x20\xAC\xD8\x3D\xDE\x00\xDC\x00\x4E\x2D" "x"s;
    for (std::string text : {le, be}) {
        ASSERT_TRUE(is_utf16_export(text.data(), text.size()));
        text += '\0';
        size_t n = utf16_to_cp1251(text.data(), text.size() - 1);
        EXPECT_EQ(text.substr(0, n + 1), std::string("A\xA8\x88???\0", 7));
    }
    EXPECT_FALSE(is_utf16_export("\xFF", 1));

    Text file = export_file();
    RunDir cp;
    cp.put("sdelki.xls", file.cp1251);
    cp.run();
    ASSERT_EQ(cp.result.status, 0);
    std::string header_free = cp.result.err.substr(cp.result.err.find('\n') + 1);
    const char *files[] = {"imported.txt", "garbage.txt", "orders.txt", "report-2013.html", "report.html"};
    for (bool little : {true, false}) {
        RunDir u;
        u.put("sdelki.xls", utf16(file.utf8, little));
        u.run();
        EXPECT_EQ(u.result.status, 0);
        EXPECT_EQ(u.result.err, "reading sdelki.xls (UTF-16)...\n" + header_free);
        for (const char *name : files)
            EXPECT_EQ(without_footer(u.get(name)), without_footer(cp.get(name))) << name << " " << little;
    }
}

// What a file does not give is named after its reading line, in this order:
// an Excel workbook is not read at all; text after a NUL byte is lost; a
// table without "</table>" after its last row may be cut; a file that was
// read but gave no trade says so.  A whole file says nothing.
TEST(FileWarnings, WhatAFileDoesNotGiveIsNamed)
{
    auto trade = [](const std::string &no) {
        return row("05.03.2013 10:00:00", no, ascii("Gazprom"), buy, "100", "1000").cp1251;
    };
    RunDir r;
    r.put("sdelki_ok.xls", "<table>" + trade("31") + "</table>");
    r.put("sdelki_ole.xls", "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1<table>" + trade("32") + "</table>");
    r.put("sdelki_zip.xls", "PK\x03\x04<table>" + trade("33") + "</table>");
    r.put("sdelki_nul.xls", "<table>" + trade("34") + std::string(1, '\0') + trade("35") + "</table>");
    r.put("sdelki_cut.xls", "<table>" + trade("36") + "<tr><td>05.03");
    r.put("sdelki_end.xls", "<table>" + trade("37"));
    r.put("sdelki_empty.xls", "");
    r.put("sdelki_page.xls", "<html><body>no table</body></html>");
    r.put("sdelki_head.xls", "<table><tr><th>Date</th></tr></table>");
    r.run();
    EXPECT_EQ(r.result.status, 0);
    std::vector<std::string> blocks = {
        "reading sdelki_ok.xls...\n",
        "reading sdelki_ole.xls...\nwarning: cannot read sdelki_ole.xls (Excel workbook, not a web page)\n",
        "reading sdelki_zip.xls...\nwarning: cannot read sdelki_zip.xls (Excel workbook, not a web page)\n",
        "reading sdelki_nul.xls...\nwarning: sdelki_nul.xls: text after a NUL byte was not read\n",
        "reading sdelki_cut.xls...\nwarning: sdelki_cut.xls: the last table row is not closed; it was not read\n"
        "warning: sdelki_cut.xls: the table does not end; the file may be cut\n",
        "reading sdelki_end.xls...\nwarning: sdelki_end.xls: the table does not end; the file may be cut\n",
        "reading sdelki_empty.xls...\nwarning: no trades in sdelki_empty.xls\n",
        "reading sdelki_page.xls...\nwarning: no trades in sdelki_page.xls\n",
        "reading sdelki_head.xls...\nwarning: no trades in sdelki_head.xls\n",
        "4 transactions imported\n"};
    for (const std::string &block : blocks)
        EXPECT_NE(r.result.err.find(block), std::string::npos) << block << r.result.err;
    // Those lines, the count, the unique count, four totals, the orders and success.
    EXPECT_EQ(std::count(r.result.err.begin(), r.result.err.end(), '\n'), 18 + 8) << r.result.err;
    std::string imported = r.get("imported.txt");
    EXPECT_EQ(std::count(imported.begin(), imported.end(), '\n'), 4);
    for (const char *lost : {" 7032 ", " 7033 ", " 7035 "})
        EXPECT_EQ(imported.find(lost), std::string::npos) << lost;
}

TEST(CommandLine, HelpAndVersionAnswerOnStandardOutputAndTouchNothing)
{
    RunDir r;
    r.put("sdelki.xls", gazprom);
    for (const char *option : {" --help", " -h", " --help --bogus"}) {
        r.run(option);
        EXPECT_EQ(r.result.status, 0) << option;
        EXPECT_TRUE(r.result.out.starts_with("usage: varnock [folder]\n")) << option;
        EXPECT_NE(r.result.out.find("--version"), std::string::npos) << option;
        EXPECT_EQ(r.result.err, "") << option;
    }
    r.run(" --version");
    EXPECT_EQ(r.result.status, 0);
    EXPECT_EQ(r.result.out, std::string("varnock ") + VARNOCK_VERSION + "\n");
    EXPECT_EQ(r.result.err, "");
    // "/?" and "/h" are Windows' help switches; elsewhere they name folders.
    for (const char *option : {" /?", " /h"}) {
        r.run(option);
#ifdef _WIN32
        EXPECT_EQ(r.result.status, 0) << option;
        EXPECT_TRUE(r.result.out.starts_with("usage: varnock [folder]\n")) << option;
#else
        EXPECT_EQ(r.result.status, 1) << option;
        EXPECT_EQ(r.result.err, std::string("cannot change to directory") + option + " (No such file or directory)\n");
#endif
    }
    EXPECT_TRUE(r.untouched());
#ifndef _WIN32
    // An answer that cannot be written is a failure, not a success.
    for (const char *option : {" --help", " --version"}) {
        r.run(std::string(option) + " >/dev/full");
        EXPECT_EQ(r.result.status, 1) << option;
        EXPECT_EQ(r.result.err, "cannot write to standard output (No space left on device)\n") << option;
    }
#endif
}

TEST(CommandLine, UnknownOptionsAndASecondFolderStopAtOnce)
{
    RunDir r;
    r.put("sdelki.xls", gazprom);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {" -x", "unknown option -x (see varnock --help)\n"},
        {" --bogus --help", "unknown option --bogus (see varnock --help)\n"},
        {" . -", "unknown option - (see varnock --help)\n"},
        {" . .", "too many arguments (see varnock --help)\n"},
    };
    for (const auto &[args, message] : cases) {
        r.run(args);
        EXPECT_EQ(r.result.status, 1) << args;
        EXPECT_EQ(r.result.err, message) << args;
        EXPECT_EQ(r.result.out, "") << args;
    }
    EXPECT_TRUE(r.untouched());
}

TEST(CommandLine, AFolderArgumentIsWhereTheRunWorks)
{
    RunDir home, elsewhere;
    std::string folder = home.dir.file("my trades");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    write_file(folder + "/sdelki.xls", "<table>" + gazprom + "</table>");
    elsewhere.run(" \"" + folder + "\"");
    EXPECT_EQ(elsewhere.result.status, 0);
    EXPECT_EQ(elsewhere.result.err, "reading sdelki.xls...\n1 transactions imported\n" + gazprom_totals);
    EXPECT_EQ(kt_test::read_text_file(folder + "/imported.txt"), gazprom_line);
    EXPECT_TRUE(elsewhere.untouched());

    elsewhere.run(" \"" + folder + "/missing\"");
    EXPECT_EQ(elsewhere.result.status, 1);
    EXPECT_EQ(elsewhere.result.err,
              "cannot change to directory " + folder + "/missing (No such file or directory)\n");
    // A trade file dropped onto the icon: the run works in its folder.
    remove((folder + "/imported.txt").c_str());
    elsewhere.run(" \"" + folder + "/sdelki.xls\"");
    EXPECT_EQ(elsewhere.result.status, 0);
    EXPECT_EQ(elsewhere.result.err, "reading sdelki.xls...\n1 transactions imported\n" + gazprom_totals);
    EXPECT_EQ(kt_test::read_text_file(folder + "/imported.txt"), gazprom_line);
    EXPECT_TRUE(elsewhere.untouched());
}

}  // namespace
