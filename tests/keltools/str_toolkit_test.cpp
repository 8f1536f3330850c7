// Word splitting, joining and in-place editing of the string toolkit.

#include "keltools.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> words_of(char **L, int n)
{
    return std::vector<std::string>(L, L + n);
}

// Splits text with str_words and returns the words (the array is freed).
std::vector<std::string> split_words(std::string text, int sep_class)
{
    char **L = nullptr;
    int n = str_words(text.data(), &L, sep_class);
    std::vector<std::string> words = words_of(L, n);
    free(L);
    return words;
}

using Words = std::vector<std::string>;

TEST(StrWords, SeparatorClasses)
{
    EXPECT_EQ(split_words("  a  b ", 1), (Words{"a", "b"}));
    EXPECT_EQ(split_words("a\tb\nc\rd\fe\vf", 1), (Words{"a", "b", "c", "d", "e", "f"}));
    EXPECT_EQ(split_words("a1-b2", 2), (Words{"a1", "b2"}));
    EXPECT_EQ(split_words("a1-b2", 8), (Words{"a", "b"}));
    EXPECT_EQ(split_words("a1-b2", 42), (Words{"a1", "b2"}));  // unknown class acts as 2
    EXPECT_EQ(split_words("f*.c ?x", 3), (Words{"f", ".c", "x"}));
    EXPECT_EQ(split_words("x,,y", 4), (Words{"x", "y"}));
    EXPECT_EQ(split_words("a b.c", 5), (Words{"a b", "c"}));
    EXPECT_EQ(split_words(";p;;q r;", 6), (Words{"p", "q r"}));
    EXPECT_EQ(split_words("|1|2 3", 7), (Words{"1", "2 3"}));
    EXPECT_EQ(split_words("file:1:2", 9), (Words{"file", "1", "2"}));
    // Bytes above 127 are neither blank nor alphanumeric in the default locale.
    EXPECT_EQ(split_words("\xe0\xe1 c", 1), (Words{"\xe0\xe1", "c"}));
    EXPECT_EQ(split_words("ab\xe0" "cd", 2), (Words{"ab", "cd"}));
}

TEST(StrWords, CutsInPlaceOverTheFirstSeparatorOnly)
{
    char text[] = "  a  b ";
    char **L = nullptr;
    ASSERT_EQ(str_words(text, &L, 1), 2);
    EXPECT_EQ(L[0], text + 2);
    EXPECT_EQ(L[1], text + 5);
    EXPECT_EQ(0, memcmp(text, "  a\0 b\0", 8));
    free(L);
}

TEST(StrWords, NoWordsGivesNullArray)
{
    for (const char *text : {"", "   ", "\t\n"}) {
        std::string copy = text;
        char **L = (char **)&copy;  // must be overwritten
        EXPECT_EQ(str_words(copy.data(), &L, 1), 0) << text;
        EXPECT_EQ(L, nullptr);
    }
}

TEST(StrWords, ClassZeroIsTheWholeString)
{
    char text[] = " a, b ";
    char **L = nullptr;
    ASSERT_EQ(str_words(text, &L, 0), 1);
    EXPECT_EQ(L[0], text);
    EXPECT_STREQ(text, " a, b ");
    free(L);
    char empty[] = "";
    ASSERT_EQ(str_words(empty, &L, 0), 1);
    EXPECT_EQ(L[0], empty);
    free(L);
}

TEST(StrWords, ManyWordsGrowTheArray)
{
    std::string text, expect_last;
    for (int i = 0; i < 100; i++)
        text += "w" + std::to_string(i) + " ";
    Words words = split_words(text, 1);
    ASSERT_EQ(words.size(), 100u);
    EXPECT_EQ(words[16], "w16");
    EXPECT_EQ(words[99], "w99");
}

TEST(StrSplit, KeepsEmptyFields)
{
    char text[] = "x,,y";
    char **L = nullptr;
    ASSERT_EQ(str_split(text, &L, ','), 3);
    EXPECT_EQ(words_of(L, 3), (Words{"x", "", "y"}));
    free(L);

    char edges[] = ",a,";
    ASSERT_EQ(str_split(edges, &L, ','), 3);
    EXPECT_EQ(words_of(L, 3), (Words{"", "a", ""}));
    free(L);

    char none[] = "";
    ASSERT_EQ(str_split(none, &L, ','), 1);
    EXPECT_STREQ(L[0], "");
    free(L);

    std::string many(40, ':');
    ASSERT_EQ(str_split(many.data(), &L, ':'), 41);
    EXPECT_STREQ(L[40], "");
    free(L);
}

TEST(StrParseline, FieldsAreHeapCopies)
{
    char text[] = "file:1:2";
    char **L = nullptr;
    ASSERT_EQ(str_parseline(text, &L, ':'), 3);
    EXPECT_EQ(words_of(L, 3), (Words{"file", "1", "2"}));
    EXPECT_EQ(0, memcmp(text, "file\0" "1\0" "2", 9));
    for (int i = 0; i < 3; i++) {
        EXPECT_TRUE(L[i] < text || L[i] > text + sizeof text);
        free(L[i]);
    }
    free(L);

    std::string many;
    for (int i = 0; i < 20; i++)
        many += std::to_string(i) + ";";
    int n = str_parseline(many.data(), &L, ';');
    ASSERT_EQ(n, 21);
    EXPECT_STREQ(L[19], "19");
    EXPECT_STREQ(L[20], "");
    for (int i = 0; i < n; i++)
        free(L[i]);
    free(L);
}

// Owns a malloc'ed result.
std::string take(char *s)
{
    EXPECT_NE(s, nullptr);
    std::string r = s ? s : "";
    free(s);
    return r;
}

TEST(StrJoin, ConcatenationAndAppend)
{
    EXPECT_EQ(take(str_join("ab", "cd")), "abcd");
    EXPECT_EQ(take(str_join("", "")), "");
    EXPECT_EQ(take(str_append(nullptr, "abc")), "abc");
    char *grown = str_append(strdup("x"), "y");
    grown = str_append(grown, "");
    grown = str_append(grown, "zz");
    EXPECT_EQ(take(grown), "xyzz");
}

TEST(StrJoin, SjoinPutsExactlyOneSlash)
{
    EXPECT_EQ(take(str_sjoin("a", "b")), "a/b");
    EXPECT_EQ(take(str_sjoin("a/", "b")), "a/b");
    EXPECT_EQ(take(str_sjoin("a/", "/b")), "a/b");
    EXPECT_EQ(take(str_sjoin("a", "/b")), "a/b");
    EXPECT_EQ(take(str_sjoin("", "b")), "b");
    EXPECT_EQ(take(str_sjoin("", "/b")), "/b");
    EXPECT_EQ(take(str_sjoin("dir", "sub\\file")), "dir/sub/file");
    EXPECT_EQ(take(str_sjoin("a/", "\\b")), "a/b");
    EXPECT_EQ(take(str_sjoin("a", "")), "a/");
    // Only one slash of dest goes; backslashes of the first part stay.
    EXPECT_EQ(take(str_sjoin("a//", "/b")), "a//b");
    EXPECT_EQ(take(str_sjoin("c:\\x", "y")), "c:\\x/y");
}

TEST(StrJoin, CatsEditsDestAndSrc)
{
    char dest[32] = "top/";
    char src[] = "\\in\\name";
    EXPECT_EQ(str_cats(dest, src), dest);
    EXPECT_STREQ(dest, "top/in/name");
    EXPECT_STREQ(src, "/in/name");

    char empty[32] = "";
    char part[] = "p\\q";
    str_cats(empty, part);
    EXPECT_STREQ(empty, "p/q");
}

TEST(StrJoin, ListJoins)
{
    char x[] = "x", y[] = "y", z[] = "z";
    char *list[] = {x, y, z};
    EXPECT_EQ(take(str_mjoin(list, 3, ',')), "x,y,z");
    EXPECT_EQ(take(str_mjoin(list, 1, ',')), "x");
    EXPECT_EQ(take(str_mjoin(list, 0, ',')), "");
    EXPECT_EQ(take(str_mjoin(list, -2, ',')), "");
    EXPECT_EQ(take(str_msjoin(list, 2, " - ")), "x - y");
    EXPECT_EQ(take(str_msjoin(list, 3, "")), "xyz");
    EXPECT_EQ(take(str_msjoin(list, 0, " - ")), "");
}

TEST(StrTranslate, ReplacesEveryOccurrence)
{
    char s[] = "a\\b\\\\c";
    str_translate(s, '\\', '/');
    EXPECT_STREQ(s, "a/b//c");
}

TEST(StrEdit, BoundedCopies)
{
    char dest[8];
    memset(dest, 'Q', sizeof dest);
    str_copy(dest, "abcdefghij", 5);
    EXPECT_STREQ(dest, "abcd");
    EXPECT_EQ(dest[5], 'Q');
    str_copy_worker(dest, "ab", 8);
    EXPECT_STREQ(dest, "ab");
    EXPECT_EQ(dest[7], '\0');  // strncpy pads
    memset(dest, 'Q', sizeof dest);
    str_copy(dest, "ab", 0);
    EXPECT_EQ(dest[0], 'Q');

    char *d = str_strdup1("abc", 5);
    ASSERT_NE(d, nullptr);
    strcat(d, "defgh");  // the five spare bytes are usable
    EXPECT_STREQ(d, "abcdefgh");
    free(d);
}

TEST(StrEdit, InsertAtEveryPosition)
{
    char s[8] = "ac";
    str_insert(s, 'b', 1);
    EXPECT_STREQ(s, "abc");
    str_insert(s, '<', 0);
    EXPECT_STREQ(s, "<abc");
    str_insert(s, '>', 4);
    EXPECT_STREQ(s, "<abc>");
    str_insert(s, '!', -1);
    str_insert(s, '!', 6);
    EXPECT_STREQ(s, "<abc>");
}

TEST(StrEdit, Stripping)
{
    char a[] = "xxhixx";
    EXPECT_STREQ(str_strip2(a, "x"), "hi");
    char b[] = "path//\\";
    EXPECT_STREQ(str_strip(b, "/\\"), "path");
    char c[] = "  keep  ";
    EXPECT_STREQ(str_strip(c, " "), "  keep");
    char d[] = "xyx";
    EXPECT_STREQ(str_strip2(d, "xy"), "");
    char e[] = "abc";
    EXPECT_STREQ(str_strip2(e, ""), "abc");
}

TEST(StrEdit, CompressSpaces)
{
    char a[] = "  a \t b  ";
    EXPECT_EQ(str_compress_spaces(a), 3);
    EXPECT_STREQ(a, "a b");
    char b[] = "";
    EXPECT_EQ(str_compress_spaces(b), 0);
    char c[] = " \t\r\n ";
    EXPECT_EQ(str_compress_spaces(c), 0);
    EXPECT_STREQ(c, "");
    char d[] = "one\n\ntwo\tthree";
    EXPECT_EQ(remove_whitespace(d), 13);
    EXPECT_STREQ(d, "one two three");
}

TEST(StrEdit, RemoveDots)
{
    char a[] = ". . .";
    EXPECT_STREQ(remove_dots(a), ".");
    char b[] = "a. . b";
    EXPECT_STREQ(remove_dots(b), "a. b");
    char c[] = "wait...";
    EXPECT_STREQ(remove_dots(c), "wait...");
    char d[] = "x .  .";  // a second blank ends the spaced-out run
    EXPECT_STREQ(remove_dots(d), "x .  .");
    char e[] = "end. Next. . .";
    EXPECT_STREQ(remove_dots(e), "end. Next.");
}

std::string replaced(const char *text, const char *s1, const char *s2, int recursive, int *count)
{
    char buf[128];
    strcpy(buf, text);
    *count = str_replace(buf, s1, s2, recursive);
    return buf;
}

TEST(StrReplace, SameOrShorterInOnePass)
{
    int n;
    EXPECT_EQ(replaced("a-b-c", "-", "+", 0, &n), "a+b+c");
    EXPECT_EQ(n, 2);
    EXPECT_EQ(replaced("aaa", "aa", "a", 0, &n), "aa");
    EXPECT_EQ(n, 1);
    EXPECT_EQ(replaced("aaa", "aa", "a", 1, &n), "a");
    EXPECT_EQ(n, 2);
    EXPECT_EQ(replaced("a, b, c", ", ", "", 0, &n), "abc");
    EXPECT_EQ(n, 2);
    EXPECT_EQ(replaced("", "x", "y", 1, &n), "");
    EXPECT_EQ(n, 0);
    EXPECT_EQ(replaced("abc", "", "y", 1, &n), "abc");
    EXPECT_EQ(n, 0);
    EXPECT_EQ(replaced("abab", "ab", "ab", 1, &n), "abab");  // would never settle
    EXPECT_EQ(n, 2);
}

TEST(StrReplace, LongerReplacement)
{
    int n;
    EXPECT_EQ(replaced("a-b-c", "-", "--", 0, &n), "a--b--c");
    EXPECT_EQ(n, 2);
    EXPECT_EQ(replaced("-x-", "-", "<->", 0, &n), "<->x<->");
    EXPECT_EQ(n, 2);
    // Recursive restarts at the beginning: "ab" -> "bxa" until no "ab" is left.
    EXPECT_EQ(replaced("aab", "ab", "bxa", 1, &n), "bxaxa");
    EXPECT_EQ(n, 2);
    EXPECT_EQ(replaced("aab", "ab", "bxa", 0, &n), "abxa");
    EXPECT_EQ(n, 1);
    // s2 holds s1: recursive falls back to a single pass instead of looping.
    EXPECT_EQ(replaced("a.a", "a", "aa", 1, &n), "aa.aa");
    EXPECT_EQ(n, 2);
}

TEST(StrCutoff, CutsAtANonAlphanumericOrAtLimitMinusThree)
{
    char a[] = "hello world";
    char *dots = str_cutoff(a, 9);
    EXPECT_STREQ(a, "hello...");
    EXPECT_EQ(dots, a + 5);
    char b[] = "abcdefghij";
    EXPECT_EQ(str_cutoff(b, 6), b + 3);
    EXPECT_STREQ(b, "abc...");
    char c[] = "abcdef";  // exactly limit characters
    EXPECT_EQ(str_cutoff(c, 6), c + 3);
    EXPECT_STREQ(c, "abc...");
    char d[] = "short";
    EXPECT_EQ(str_cutoff(d, 6), nullptr);
    EXPECT_STREQ(d, "short");
    char e[] = " abcdef";  // the first character is never the cut
    EXPECT_EQ(str_cutoff(e, 6), e + 3);
    EXPECT_STREQ(e, " ab...");
    char f[] = "abcdef";
    EXPECT_EQ(str_cutoff(f, 2), nullptr);
    EXPECT_STREQ(f, "abcdef");
}

TEST(StrRefineBuffer, EveryLineBreakBecomesOneNul)
{
    char a[] = "a\r\nb\n\nc";
    EXPECT_EQ(str_refine_buffer(a), 7);
    EXPECT_EQ(0, memcmp(a, "a\0b\0\0c\0", 7));
    char b[] = "x\n\ry\r\rz\r";
    EXPECT_EQ(str_refine_buffer(b), 8);
    EXPECT_EQ(0, memcmp(b, "x\0y\0\0z\0\0", 8));
    char c[] = "";
    EXPECT_EQ(str_refine_buffer(c), 1);
}

TEST(StrSep1, TokensIncludingTheLast)
{
    char text[] = ",,a,b,,c";
    char *p = text;
    std::vector<std::string> got;
    while (char *t = str_sep1(&p, ','))
        got.push_back(t);
    EXPECT_EQ(got, (Words{"a", "b", "c"}));
    EXPECT_EQ(str_sep1(&p, ','), nullptr);

    char two[] = "a,b";
    p = two;
    EXPECT_STREQ(str_sep1(&p, ','), "a");
    EXPECT_STREQ(str_sep1(&p, ','), "b");
    EXPECT_EQ(str_sep1(&p, ','), nullptr);

    char trailing[] = "a,,";
    p = trailing;
    EXPECT_STREQ(str_sep1(&p, ','), "a");
    EXPECT_EQ(str_sep1(&p, ','), nullptr);

    char empty[] = "";
    p = empty;
    EXPECT_EQ(str_sep1(&p, ','), nullptr);
}

TEST(StrCompare, PrefixAndCaseInsensitive)
{
    EXPECT_EQ(str_headcmp("abc", "ab"), 0);
    EXPECT_EQ(str_headcmp("abc", ""), 0);
    EXPECT_LT(str_headcmp("ab", "abc"), 0);
    EXPECT_NE(str_headcmp("abc", "abd"), 0);
    EXPECT_NE(str_headcmp("xbc", "ab"), 0);

    EXPECT_EQ(stricmp1("Index.TXT", "index.txt"), 0);
    EXPECT_EQ(stricmp1("a", "B"), 'a' - 'b');
    EXPECT_EQ(stricmp1("abc", "AB"), 'c');
    EXPECT_EQ(stricmp1("", ""), 0);
    EXPECT_GT(stricmp1("\xe0", "a"), 0);  // bytes compare unsigned

    EXPECT_EQ(strnicmp1("ABCx", "abcy", 3), 0);
    EXPECT_EQ(strnicmp1("ab", "AC", 2), 'b' - 'c');
    EXPECT_EQ(strnicmp1("ab", "AB", 10), 0);
    EXPECT_EQ(strnicmp1("x", "y", 0), 0);
    EXPECT_EQ(strnicmp1("x", "y", -3), 0);

    EXPECT_EQ(str_imatch("Hello", "help"), 3);
    EXPECT_EQ(str_imatch("ABC", "abc"), 3);
    EXPECT_EQ(str_imatch("", "abc"), 0);
    EXPECT_EQ(str_imatch("x", "y"), 0);
}

TEST(StrCompare, NullTolerant)
{
    EXPECT_EQ(str_cmpnull(nullptr, "a"), -1);
    EXPECT_EQ(str_cmpnull("a", nullptr), 1);
    EXPECT_EQ(str_cmpnull(nullptr, nullptr), 0);
    EXPECT_EQ(str_cmpnull("a", "a"), 0);
    EXPECT_LT(str_cmpnull("a", "b"), 0);
}

TEST(StrSearch, QuoteAwareIndex)
{
    char escaped[] = "a\\,b,c";
    EXPECT_EQ(str_index1(escaped, ','), escaped + 4);
    char quoted[] = "x\"a,b\",c";
    EXPECT_EQ(str_index1(quoted, ','), quoted + 6);
    char first[] = ",x";
    EXPECT_EQ(str_index1(first, ','), first);
    // A quote in first position opens nothing.
    char lead_quote[] = "\"a,b\"";
    EXPECT_EQ(str_index1(lead_quote, ','), lead_quote + 2);
    // An escaped quote does not open a quoted stretch.
    char esc_quote[] = "a\\\"b,c";
    EXPECT_EQ(str_index1(esc_quote, ','), esc_quote + 4);
    char open_quote[] = "a\"b,c";
    EXPECT_EQ(str_index1(open_quote, ','), nullptr);
    EXPECT_EQ(str_index1("abc", ','), nullptr);
    EXPECT_EQ(str_index1("", ','), nullptr);
}

TEST(StrSearch, CaseInsensitiveSubstring)
{
    const char *h = "Hello World";
    EXPECT_EQ(str_stristr(h, "WORLD"), h + 6);
    EXPECT_EQ(str_stristr(h, "lo w"), h + 3);
    EXPECT_EQ(str_stristr(h, "worlds"), nullptr);
    EXPECT_EQ(str_casestr(h, "wORLD"), h + 6);
    EXPECT_EQ(str_casestr(h, "xyz"), nullptr);
    // The library table folds ASCII letters only.
    EXPECT_EQ(str_stristr("\xc0\xc1", "\xe0\xe1"), nullptr);

    EXPECT_EQ(tolower1('A'), 'a');
    EXPECT_EQ(tolower1('Z'), 'z');
    EXPECT_EQ(tolower1('@'), '@');
    EXPECT_EQ(tolower1('['), '[');
    EXPECT_EQ(tolower1('a'), 'a');
    EXPECT_EQ(tolower1(0xc0), 0xc0);
    char s[] = "MiXeD 123 \xc0";
    EXPECT_STREQ(str_lower(s), "mixed 123 \xc0");
}

TEST(StrSearch, Counting)
{
    EXPECT_EQ(str_numchars("a,b,,c", ','), 3);
    EXPECT_EQ(str_numchars("", ','), 0);
    EXPECT_EQ(str_numstr("aaaa", "aa"), 2);
    EXPECT_EQ(str_numstr("aaa", "aa"), 1);
    EXPECT_EQ(str_numstr("abcabc", "bc"), 2);
    EXPECT_EQ(str_numstr("x", "xy"), 0);
    EXPECT_EQ(str_numstr("abc", ""), 0);
}

}  // namespace
