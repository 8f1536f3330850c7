#include "keltools.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

using kt_test::ChdirGuard;
using kt_test::run_in_child;
using kt_test::TempDir;
using kt_test::write_file;

namespace {

// A fresh directory with one data file of the given text.  The cache knows
// files by name, so tests that use relative names give each file its own.
struct DataDir {
    TempDir dir;
    std::string name;
    explicit DataDir(const std::string &text, const std::string &base = "t.dat")
        : name(dir.file(base))
    {
        write_file(name, text);
    }
};

std::vector<double> column(const std::string &fname, int ncol, int *result)
{
    double *data = nullptr;
    *result = read_column(fname.c_str(), ncol, &data);
    std::vector<double> values;
    if (*result > 0)
        values.assign(data, data + *result);
    free(data);
    return values;
}

std::vector<std::vector<double>> rows_of(const std::string &fname, int *ncols, int *nrec)
{
    double **rows = nullptr;
    *nrec = read_datafile(fname.c_str(), &rows, ncols);
    std::vector<std::vector<double>> table;
    for (int i = 0; i < *nrec; i++)
        table.emplace_back(rows[i], rows[i] + *ncols);
    return table;
}

using Table = std::vector<std::vector<double>>;

}  // namespace

TEST(DataLine, WhatCountsAsData)
{
    EXPECT_TRUE(valid_dataline("1 2 3\n"));
    EXPECT_TRUE(valid_dataline("1.5e3\t-2\r\n"));
    EXPECT_TRUE(valid_dataline("+1.5d3 -.5E-2"));
    EXPECT_TRUE(valid_dataline("   "));
    EXPECT_FALSE(valid_dataline(""));
    EXPECT_FALSE(valid_dataline("\n"));
    EXPECT_FALSE(valid_dataline("\r\n"));
    EXPECT_FALSE(valid_dataline("# 1 2"));
    EXPECT_FALSE(valid_dataline("1 2 x"));
    EXPECT_FALSE(valid_dataline("1.5D3"));
    EXPECT_FALSE(valid_dataline("1,5"));
}

TEST(DataFile, RowsFollowTheFirstDataLine)
{
    DataDir d("# header\n\n1 2\n3 4 5\n1.5e3\t-2\n1 2 x\n  7   8  \r\n.5d1 -1d-1\n");
    int ncols, nrec;
    Table t = rows_of(d.name, &ncols, &nrec);
    EXPECT_EQ(ncols, 2);
    EXPECT_EQ(nrec, 4);
    EXPECT_EQ(t, (Table{{1, 2}, {1500, -2}, {7, 8}, {5, -0.1}}));
}

TEST(DataFile, FilesWithoutDataAndLeadingBlankLines)
{
    DataDir none("# only a comment\n\n");
    int ncols = -1, nrec;
    rows_of(none.name, &ncols, &nrec);
    EXPECT_EQ(nrec, 0);
    EXPECT_EQ(ncols, 0);

    DataDir empty("");
    rows_of(empty.name, &ncols, &nrec);
    EXPECT_EQ(nrec, 0);
    EXPECT_EQ(ncols, 0);

    // A line of blanks passes the data-line test but has no words: it sets
    // no column count and gives no row.
    DataDir blank_first(" \t\n1 2 3\n \n4 5 6\n");
    EXPECT_EQ(rows_of(blank_first.name, &ncols, &nrec), (Table{{1, 2, 3}, {4, 5, 6}}));
    EXPECT_EQ(ncols, 3);

    double **rows;
    EXPECT_EQ(read_datafile(none.dir.file("missing.dat").c_str(), &rows, &ncols), -1);
}

TEST(DataFile, LongLinesAreReadWhole)
{
    std::string wide = "1" + std::string(20000, ' ') + "2\n";
    std::string many;
    for (int i = 0; i < 5000; i++)
        many += "9 ";
    DataDir d("3 4\n" + wide + many + "\n5 6\n");
    int ncols, nrec;
    EXPECT_EQ(rows_of(d.name, &ncols, &nrec), (Table{{3, 4}, {1, 2}, {5, 6}}));
}

TEST(DataFile, ReadOnceCachedThenDroppedAndReadAgain)
{
    DataDir d("1 2\n3 4\n");
    double **first, **again;
    int ncols;
    ASSERT_EQ(read_datafile(d.name.c_str(), &first, &ncols), 2);

    write_file(d.name, "10 20 30\n");  // not looked at while cached
    ASSERT_EQ(read_datafile(d.name.c_str(), &again, &ncols), 2);
    EXPECT_EQ(again, first);
    EXPECT_EQ(ncols, 2);

    drop_datafile("dropped data file");  // does nothing
    ASSERT_EQ(read_datafile(d.name.c_str(), &again, &ncols), 2);

    drop_datafile(d.name.c_str());
    drop_datafile(d.name.c_str());
    int nrec;
    EXPECT_EQ(rows_of(d.name, &ncols, &nrec), (Table{{10, 20, 30}}));

    drop_datafile(d.name.c_str());
    unlink(d.name.c_str());
    EXPECT_EQ(read_datafile(d.name.c_str(), &again, &ncols), -1);

    // Names are compared exactly: another spelling is another entry.
    write_file(d.name, "5\n");
    ChdirGuard in(d.dir.path());
    EXPECT_EQ(rows_of("./t.dat", &ncols, &nrec), (Table{{5}}));
    EXPECT_EQ(rows_of(d.name, &ncols, &nrec), (Table{{5}}));
}

TEST(DataFile, Columns)
{
    DataDir d("1 10\n2 20\n3 30\n");
    int rc;
    EXPECT_EQ(column(d.name, 2, &rc), (std::vector<double>{10, 20, 30}));
    EXPECT_EQ(rc, 3);
    EXPECT_EQ(column(d.name, 1, &rc), (std::vector<double>{1, 2, 3}));
    column(d.name, 3, &rc);
    EXPECT_EQ(rc, -2);
    column(d.name, 0, &rc);
    EXPECT_EQ(rc, -2);
    column(d.dir.file("nope"), 1, &rc);
    EXPECT_EQ(rc, -1);

    DataDir none("# nothing\n");
    column(none.name, 1, &rc);
    EXPECT_EQ(rc, -2);
}

TEST(DataFile, OneColumnSpecifications)
{
    DataDir d("1 10\n2 20\n", "one.dat");
    ChdirGuard in(d.dir.path());
    double *data = nullptr;
    EXPECT_EQ(read_one_column("one.dat:2", &data), 2);
    EXPECT_EQ(data[0], 10);
    EXPECT_EQ(data[1], 20);
    free(data);
    EXPECT_EQ(read_one_column("one.dat:3", &data), -2);
    EXPECT_EQ(read_one_column("one.dat:1:2", &data), 2);  // cut at the first colon only
    EXPECT_EQ(data[1], 2);
    free(data);
    for (const char *bad : {"one.dat:", ":2", "one.dat", ""}) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(read_one_column(bad, &data), -1);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  std::string("invalid file:column specification '") + bad + "'\n");
    }
}

TEST(DataFile, SeveralColumnSpecifications)
{
    DataDir d("1 10 100\n2 20 200\n", "several.dat");
    ChdirGuard in(d.dir.path());
    char spec[] = "several.dat:3:1:3";
    int n = 0;
    double **cols = nullptr;
    EXPECT_EQ(read_n_columns(spec, &n, &cols), 2);
    ASSERT_EQ(n, 3);
    EXPECT_EQ(std::vector<double>(cols[0], cols[0] + 2), (std::vector<double>{100, 200}));
    EXPECT_EQ(std::vector<double>(cols[1], cols[1] + 2), (std::vector<double>{1, 2}));
    EXPECT_EQ(std::vector<double>(cols[2], cols[2] + 2), (std::vector<double>{100, 200}));
    for (int i = 0; i < n; i++)
        free(cols[i]);
    free(cols);
    EXPECT_STREQ(spec, "several.dat");  // cut at its colons

    char no_colon[] = "several.dat";
    testing::internal::CaptureStderr();
    EXPECT_EQ(read_n_columns(no_colon, &n, &cols), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "invalid file:column1[:column2[:...]] specification 'several.dat'\n");
    EXPECT_EQ(n, 1);

    // Only colons: an empty file name that cannot be read, in every slot.
    char colons[] = "::";
    EXPECT_EQ(read_n_columns(colons, &n, &cols), -1);
    ASSERT_EQ(n, 2);
    EXPECT_EQ(cols[0], nullptr);
    EXPECT_EQ(cols[1], nullptr);
    free(cols);

    double *x = nullptr, *y = nullptr;
    char two[] = "several.dat:2:3";
    EXPECT_EQ(read_two_columns(two, &x, &y), 2);
    EXPECT_EQ(x[1], 20);
    EXPECT_EQ(y[1], 200);
    free(x);
    free(y);
}

TEST(DataFile, InconsistentColumnRequestsStopTheProcess)
{
    DataDir d("1 10\n2 20\n", "bad.dat");
    ChdirGuard in(d.dir.path());
    // A column that cannot be read has another row count than its neighbour,
    // whether it comes second or third.
    for (const char *spec : {"bad.dat:1:5", "bad.dat:5:1", "bad.dat:1:2:7"}) {
        auto r = run_in_child([spec] {
            std::string copy = spec;
            int n;
            double **cols;
            read_n_columns(copy.data(), &n, &cols);
        });
        EXPECT_EQ(r.status, 1) << spec;
        EXPECT_EQ(r.err, "different number of rows for different columns\n") << spec;
    }
    for (const char *spec : {"bad.dat:1:2:1", "bad.dat:1"}) {
        auto r = run_in_child([spec] {
            std::string copy = spec;
            double *x, *y;
            read_two_columns(copy.data(), &x, &y);
        });
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "number of columns in 'bad.dat' is not 2\n");
    }
    auto r = run_in_child([] {
        char spec[] = "bad.dat";
        double *x, *y;
        read_two_columns(spec, &x, &y);
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "invalid file:column1[:column2[:...]] specification 'bad.dat'\n"
                     "number of columns in 'bad.dat' is not 2\n");
}

TEST(Interpolation, InsideOnPointsAndBeyondTheEnds)
{
    const double x1[] = {0, 1, 3}, y1[] = {1, 3, 4};
    const double x2[] = {-1, 0, 0.5, 1, 2, 3, 5};
    double y2[7];
    EXPECT_EQ(interpolate_l(x1, y1, 3, x2, y2, 7), 0);
    EXPECT_EQ(std::vector<double>(y2, y2 + 7), (std::vector<double>{-1, 1, 2, 3, 3.5, 4, 5}));

    // On a repeated abscissa the first of its points gives the value.
    const double rx[] = {0, 1, 1, 2}, ry[] = {0, 5, 7, 9};
    const double at[] = {1, 0.5, 1.5};
    double out[3];
    interpolate_l(rx, ry, 4, at, out, 3);
    EXPECT_EQ(std::vector<double>(out, out + 3), (std::vector<double>{5, 2.5, 8}));

    // One point: its ordinate everywhere.
    const double px[] = {2}, py[] = {7}, where[] = {1, 2, 3};
    double flat[3];
    interpolate_l(px, py, 1, where, flat, 3);
    EXPECT_EQ(std::vector<double>(flat, flat + 3), (std::vector<double>{7, 7, 7}));
}

TEST(Interpolation, EmptySizesStopTheProcess)
{
    for (auto [n1, n2] : {std::pair{0, 3}, std::pair{2, 0}, std::pair{-1, -2}}) {
        auto r = run_in_child([n1 = n1, n2 = n2] {
            double x[2] = {0, 1}, y[2] = {0, 1};
            interpolate_l(x, y, n1, x, y, n2);
        });
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "n1=" + std::to_string(n1) + " or n2=" + std::to_string(n2) +
                             " are invalid\n");
    }
}
