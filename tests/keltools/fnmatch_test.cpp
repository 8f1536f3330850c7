#include "keltools.h"
#include "fnmatch1_reference.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

TEST(Fnmatch, StarsAfterTheFirstLeaveSlashesAndPeriodsAsRuled)
{
    const int path = FNMATCH1_PATHNAME, period = FNMATCH1_PERIOD;
    // "*/" goes to the next "/" and keeps the period rule; a star followed by
    // anything else lifts it for the rest of the pattern.
    EXPECT_FALSE(matches("x*/*", "xy/.z", path | period));
    EXPECT_TRUE(matches("*x/*", "ax/.z", path | period));
    // A star stops at "/", but an escaped "/" after it is an ordinary character.
    EXPECT_FALSE(matches("a*b", "a/b", path));
    EXPECT_TRUE(matches("*\\/b", "a/b", path));
    EXPECT_TRUE(matches("a*c", "abc/d", FNMATCH1_LEADING_DIR));
    EXPECT_TRUE(matches("a*", "ab/c", path | FNMATCH1_LEADING_DIR));
    EXPECT_FALSE(matches("a*", "ab/c", path));
}

// Many star groups neither exhaust the stack nor take exponential time.
TEST(Fnmatch, ManyStarGroups)
{
    std::string pattern;
    for (int i = 0; i < 1000000; i++)
        pattern += "*a";
    EXPECT_TRUE(matches(pattern.c_str(), std::string(1000000, 'a').c_str()));
    EXPECT_FALSE(matches(pattern.c_str(), std::string(999999, 'a').c_str()));

    EXPECT_FALSE(matches("*a*a*a*a*a*a*b", std::string(200, 'a').c_str()));
    EXPECT_TRUE(matches("*a*a*a*a*a*a*b", (std::string(199, 'a') + "b").c_str()));
}

// Every pattern of up to four characters from the special ones, against every
// short name, under every flag combination: the same results as the
// recursive matcher the library had before.
TEST(Fnmatch, AgreesWithTheRecursiveMatcherOnAllShortPatterns)
{
    auto all_words = [](const std::string &alphabet, size_t longest) {
        std::vector<std::string> words = {""};
        for (size_t i = 0; i < words.size(); i++)
            if (words[i].size() < longest)
                for (char c : alphabet)
                    words.push_back(words[i] + c);
        return words;
    };
    std::vector<std::string> patterns = all_words("a/.*?[]\\", 4), names = all_words("a/.b", 3);
    int differences = 0;
    for (const std::string &pattern : patterns)
        for (const std::string &name : names)
            for (int flags = 0; flags < 32; flags++)
                if (fnmatch1(pattern.c_str(), name.c_str(), flags) !=
                    fnmatch1_reference::fnmatch1(pattern.c_str(), name.c_str(), flags))
                    if (differences++ < 5)
                        ADD_FAILURE() << "pattern '" << pattern << "' name '" << name << "' flags " << flags;
    EXPECT_EQ(differences, 0);
}
