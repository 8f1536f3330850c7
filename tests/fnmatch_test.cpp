#include "keltools.h"

#include <gtest/gtest.h>

namespace {

bool matches(const char *pattern, const char *string, int flags = 0)
{
    int r = fnmatch1(pattern, string, flags);
    EXPECT_TRUE(r == 0 || r == FNMATCH1_NOMATCH);
    return r == 0;
}

const int fold = FNMATCH1_CASEFOLD;

}  // namespace

TEST(Fnmatch, TradeFilePatternFoldsCaseOnlyWhenAsked)
{
    EXPECT_TRUE(matches("sdelki*.xls", "sdelki.xls", fold));
    EXPECT_TRUE(matches("sdelki*.xls", "SDELKI.XLS", fold));
    EXPECT_TRUE(matches("sdelki*.xls", "Sdelki_2012-05.Xls", fold));
    EXPECT_FALSE(matches("sdelki*.xls", "sdelki.xlsx", fold));
    EXPECT_FALSE(matches("sdelki*.xls", "my_sdelki.xls", fold));
    EXPECT_FALSE(matches("sdelki*.xls", "SDELKI.XLS"));
    EXPECT_TRUE(matches("[A-Z]", "q", fold));
    // Cyrillic capital and small letters of cp1251 do not fold.
    EXPECT_FALSE(matches("\xc0", "\xe0", fold));
    EXPECT_TRUE(matches("\xc0*", "\xc0\xe0", fold));
}

TEST(Fnmatch, StarsSlashesAndPeriods)
{
    EXPECT_TRUE(matches("*", ""));
    EXPECT_TRUE(matches("*", "a/b"));
    EXPECT_FALSE(matches("*", "a/b", FNMATCH1_PATHNAME));
    EXPECT_TRUE(matches("*/b", "a/b", FNMATCH1_PATHNAME));
    EXPECT_TRUE(matches("*", "a/b", FNMATCH1_PATHNAME | FNMATCH1_LEADING_DIR));
    EXPECT_FALSE(matches("a?b", "a/b", FNMATCH1_PATHNAME));
    EXPECT_FALSE(matches("a[/]b", "a/b", FNMATCH1_PATHNAME));
    EXPECT_TRUE(matches("a[/]b", "a/b"));

    EXPECT_FALSE(matches("*", ".profile", FNMATCH1_PERIOD));
    EXPECT_TRUE(matches(".*", ".profile", FNMATCH1_PERIOD));
    EXPECT_TRUE(matches("*", ".profile"));
    EXPECT_FALSE(matches("?profile", ".profile", FNMATCH1_PERIOD));
    EXPECT_FALSE(matches("a/*", "a/.x", FNMATCH1_PERIOD | FNMATCH1_PATHNAME));
    EXPECT_TRUE(matches("a/*", "a/.x", FNMATCH1_PERIOD));
    EXPECT_TRUE(matches("a*x", "a.x", FNMATCH1_PERIOD));

    EXPECT_TRUE(matches("abc", "abc/def", FNMATCH1_LEADING_DIR));
    EXPECT_FALSE(matches("abc", "abc/def"));
    EXPECT_FALSE(matches("abc", "abcdef", FNMATCH1_LEADING_DIR));
    EXPECT_TRUE(matches("a*c*e", "abcde"));
    EXPECT_FALSE(matches("a*c*f", "abcde"));
}

TEST(Fnmatch, BracketExpressions)
{
    EXPECT_TRUE(matches("[]a]", "]"));
    EXPECT_TRUE(matches("[]a]", "a"));
    EXPECT_FALSE(matches("[]a]", "b"));
    EXPECT_TRUE(matches("[!a-c]", "d"));
    EXPECT_FALSE(matches("[!a-c]", "b"));
    EXPECT_TRUE(matches("[^a-c]", "d"));
    EXPECT_TRUE(matches("[a-]", "a"));
    EXPECT_TRUE(matches("[a-]", "-"));
    EXPECT_FALSE(matches("[a-]", "b"));
    EXPECT_TRUE(matches("[\\]]", "]"));
    EXPECT_TRUE(matches("[a-\\z]", "m"));
    // Bytes from 0x80 compare as negative numbers, below every ASCII character.
    EXPECT_TRUE(matches("[\x80-a]", "\xff"));
    EXPECT_FALSE(matches("[a-\xff]", "\xe0"));
}

TEST(Fnmatch, MalformedPatternsAreLiteral)
{
    EXPECT_TRUE(matches("[abc", "[abc"));
    EXPECT_FALSE(matches("[abc", "a"));
    EXPECT_TRUE(matches("[a-\\", "[a-\\"));
    EXPECT_TRUE(matches("x[", "x["));
    EXPECT_TRUE(matches("[!", "[!"));
    EXPECT_TRUE(matches("a\\", "a\\"));
    EXPECT_TRUE(matches("\\*", "*"));
    EXPECT_FALSE(matches("\\*", "x"));
    EXPECT_FALSE(matches("\\*", "\\x"));
    EXPECT_TRUE(matches("\\*", "\\x", FNMATCH1_NOESCAPE));
    EXPECT_TRUE(matches("\\*", "\\", FNMATCH1_NOESCAPE));
    EXPECT_FALSE(matches("\\*", "x", FNMATCH1_NOESCAPE));
}
