// Short FAT-safe names and their helpers.

#include "keltools.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string shortened(const std::string &name)
{
    const char *r = str_shorten(name.c_str());
    return r ? r : "(null)";
}

TEST(StrShorten, Names)
{
    EXPECT_EQ(shortened("archive.tar.gz"), "archive.tgz");
    EXPECT_EQ(shortened("notes.Z"), "notes.z");
    EXPECT_EQ(shortened("doc.ps.Z"), "doc.psz");
    EXPECT_EQ(shortened("x.tar.z"), "x.taz");      // ".Z" in any case
    EXPECT_EQ(shortened("data.gz"), "data.gz");
    EXPECT_EQ(shortened("DATA.GZ"), "DATA.GZ");    // ".gz" only exactly
    EXPECT_EQ(shortened("prog.c.Z"), "prog.cz");   // a one-letter extension keeps the suffix
    EXPECT_EQ(shortened("prog.c.gz"), "prog.cgz");
    EXPECT_EQ(shortened("My Long Document Name.html"), "MLngDcmn.htm");
    EXPECT_EQ(shortened("Readme"), "Readme");
    EXPECT_EQ(shortened("a.b.c.txt"), "a_b_c.txt");
    EXPECT_EQ(shortened(".profile"), "_profile");
    EXPECT_EQ(shortened(".gz"), "_gz");
    EXPECT_EQ(shortened("***"), "(null)");
    EXPECT_EQ(shortened(""), "(null)");
    EXPECT_EQ(shortened("..."), "(null)");
    EXPECT_EQ(shortened("x..."), "x");
    EXPECT_EQ(shortened("a"), "a");
    EXPECT_EQ(shortened("page.shtml"), "page.sht");
    EXPECT_EQ(shortened("r\xe9sum\xe9 final.doc"), "rsumfinl.doc");
    EXPECT_EQ(shortened(std::string(300, 'a') + ".txt"), "aaaaaaaa.txt");
}

TEST(StrShorten, ResultIsStaticAndOverwritten)
{
    const char *first = str_shorten("one.txt");
    const char *second = str_shorten("two.txt");
    EXPECT_EQ(first, second);
    EXPECT_STREQ(second, "two.txt");
}

std::string after_try(const char *text)
{
    char buf[64];
    strcpy(buf, text);
    str_try_shorten(buf);
    return buf;
}

TEST(StrTryShorten, DeletionOrder)
{
    EXPECT_EQ(after_try("a(b)c"), "a(bc");   // punctuation first, last one
    EXPECT_EQ(after_try("(abc"), "abc");     // ... even in first position
    EXPECT_EQ(after_try("-ab_c"), "-abc");   // then the last dash or underscore
    EXPECT_EQ(after_try("-abc"), "-bc");     // ... not in first position: a vowel
    EXPECT_EQ(after_try("Yes"), "Ys");       // Y counts as a vowel
    EXPECT_EQ(after_try("abc"), "ab");       // first vowel kept: a consonant
    EXPECT_EQ(after_try("a12"), "a1");       // then a digit
    EXPECT_EQ(after_try("1bc"), "1b");
    EXPECT_EQ(after_try("b1"), "b");
    EXPECT_EQ(after_try("b."), "b");         // finally the last character
    EXPECT_EQ(after_try("e"), "");
    EXPECT_EQ(after_try(""), "");
}

TEST(StrReduce, ShortensToTheLimitAndPads)
{
    char dest[8];
    EXPECT_EQ(str_reduce(dest, "report", 4), dest);
    EXPECT_STREQ(dest, "rprt");
    EXPECT_STREQ(str_reduce(dest, "12345", 3), "123");

    memset(dest, 'Q', sizeof dest);
    str_reduce(dest, "ab", 4);
    EXPECT_EQ(0, memcmp(dest, "ab\0\0\0Q", 6));
    EXPECT_EQ(str_reduce(dest, "ab", 0), nullptr);
}

TEST(StrShortenHelpers, CharacterClasses)
{
    EXPECT_EQ(str_isvowel('J'), 1);
    EXPECT_EQ(str_isvowel('y'), 1);
    EXPECT_EQ(str_isvowel('b'), 0);
    EXPECT_EQ(str_isvowel(0), 0);
    EXPECT_EQ(str_fatsafe('~'), 1);
    EXPECT_EQ(str_fatsafe('.'), 1);
    EXPECT_EQ(str_fatsafe(' '), 0);
    EXPECT_EQ(str_fatsafe('*'), 0);
    EXPECT_EQ(str_fatsafe(0), 0);
    EXPECT_EQ(str_fatsafe(0xe9), 0);
}

TEST(StrShortenHelpers, LastOfSetAndDelete)
{
    char s[] = "a-b_c";
    EXPECT_EQ(str_lastspn(s, "-_"), s + 3);
    EXPECT_EQ(str_lastspn(s, "xyz"), nullptr);
    EXPECT_EQ(str_lastspn("", "a"), nullptr);

    char t[] = "xabc";
    char *body = t + 1;
    str_delete(body, body + 1);
    EXPECT_STREQ(body, "ac");
    str_delete(body, body + 2);  // the terminating NUL: nothing
    EXPECT_STREQ(body, "ac");
    str_delete(body, t);         // before the string: nothing
    EXPECT_STREQ(t, "xac");
    str_delete(body, body);
    EXPECT_STREQ(body, "c");
}

TEST(StrShortenHelpers, TailComparisons)
{
    EXPECT_EQ(str_tailcmp("file.gz", ".gz"), 0);
    EXPECT_NE(str_tailcmp("file.GZ", ".gz"), 0);
    EXPECT_EQ(str_tailcmp("gz", ".gz"), 1);
    EXPECT_EQ(str_tailcmp("abc", ""), 0);
    EXPECT_EQ(str_tailcmpi("file.GZ", ".gz"), 0);
    EXPECT_EQ(str_tailcmpi("abc", ""), 1);
    EXPECT_EQ(str_tailcmpi("z", ".Z"), 1);
    EXPECT_NE(str_tailcmpi("file.gy", ".gz"), 0);
}

}  // namespace
