// Path sanitising: the two normalisers and the directory/name split.

#include "keltools.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

std::string sanified(const char *path)
{
    char *r = str_sanify(path);
    EXPECT_NE(r, nullptr);
    std::string s = r ? r : "";
    free(r);
    return s;
}

std::string sanified_in_place(const std::string &path, int *drive = nullptr)
{
    std::string buf = path + '\0';  // room for one more character
    int d = sanify_pathname(buf.data());
    if (drive)
        *drive = d;
    return buf.c_str();
}

TEST(PathSanify, BothNormalisersAgree)
{
    struct Case { const char *in, *out; } cases[] = {
        {"C:\\Dir\\.\\Sub\\..\\File.txt", "c:/Dir/File.txt"},
        {"a/b/../c", "a/c"},          // ".." in the middle
        {"a/b/..", "a"},              // ".." at the end
        {"a/./b/.", "a/b"},
        {"dir///", "dir"},
        {"x\\y\\", "x/y"},
        {"/", "/"},
        {"///", "/"},
        {"./a", "./a"},
        {"..", ".."},
        {"../x", "../x"},
        {"a/../../..", "/"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(sanified(c.in), c.out) << c.in;
        EXPECT_EQ(sanified_in_place(c.in), c.out) << c.in;
    }
}

TEST(PathSanify, LeadingDotDotDiffers)
{
    EXPECT_EQ(sanified("a/../b"), "/b");
    EXPECT_EQ(sanified_in_place("a/../b"), "//b");
    EXPECT_EQ(sanified("/../x"), "/x");
    EXPECT_EQ(sanified_in_place("/../x"), "//x");
    EXPECT_EQ(sanified("a/b/../../c"), "/c");
    EXPECT_EQ(sanified_in_place("a/b/../../c"), "//c");
    EXPECT_EQ(sanified("a/.."), "/");
    EXPECT_EQ(sanified_in_place("a/.."), "/");
    EXPECT_EQ(sanified("../.."), "/");
    EXPECT_EQ(sanified_in_place("../.."), "/");
}

TEST(PathSanify, DriveLetters)
{
    int drive = -1;
    EXPECT_EQ(sanified_in_place("C:\\x\\", &drive), "c:/x");
    EXPECT_EQ(drive, 'c');
    EXPECT_EQ(sanified_in_place("C:", &drive), "c:");
    EXPECT_EQ(drive, 'c');
    EXPECT_EQ(sanified_in_place("x/y", &drive), "x/y");
    EXPECT_EQ(drive, 0);
    EXPECT_EQ(sanified_in_place("", &drive), "");
    EXPECT_EQ(drive, 0);
    EXPECT_EQ(sanified("C:"), "c:/");
    EXPECT_EQ(sanified("D:\\..\\x"), "d:/x");  // ".." stops at the drive root
    EXPECT_EQ(sanified(""), "/");
}

TEST(PathSanify, LongTailAfterDotDot)
{
    std::string tail(10000, 'x');
    EXPECT_EQ(sanified_in_place("a/../" + tail), "//" + tail);
    EXPECT_EQ(sanified(("a/../" + tail).c_str()), "/" + tail);
}

struct Split {
    std::string dir, name;
    bool has_dir, has_name, returned_name;
};

Split split(const char *path)
{
    char *dir = (char *)"unset", *name = (char *)"unset";
    char *r = str_pathdcmp(path, &dir, &name);
    Split s{dir ? dir : "", name ? name : "", dir != nullptr, name != nullptr, r == name};
    free(dir);
    free(name);
    return s;
}

TEST(PathSplit, DirectoryAndName)
{
    Split s = split("c:\\x\\y.txt");
    EXPECT_TRUE(s.has_dir && s.has_name && s.returned_name);
    EXPECT_EQ(s.dir, "c:/x");
    EXPECT_EQ(s.name, "y.txt");

    s = split("c:\\y.txt");
    EXPECT_EQ(s.dir, "c:/");
    EXPECT_EQ(s.name, "y.txt");

    s = split("y.txt");
    EXPECT_FALSE(s.has_dir);
    EXPECT_EQ(s.name, "y.txt");

    s = split("a/b/../c/d.txt");
    EXPECT_EQ(s.dir, "a/c");
    EXPECT_EQ(s.name, "d.txt");

    s = split("C:y.txt");
    EXPECT_EQ(s.dir, "c:");
    EXPECT_EQ(s.name, "y.txt");

    s = split("c:");
    EXPECT_EQ(s.dir, "c:/");
    EXPECT_FALSE(s.has_name);
    EXPECT_TRUE(s.returned_name);

    s = split("/");
    EXPECT_TRUE(s.has_dir);
    EXPECT_EQ(s.dir, "");
    EXPECT_FALSE(s.has_name);
}

}  // namespace
