// A C++ program that uses the installed libkeltools with standard containers.
#include <keltools.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

int failures = 0;

void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "consumer (C++): %s failed\n", what);
        ++failures;
    }
}

int cmp_long_long(const void *a, const void *b)
{
    long long x = *static_cast<const long long *>(a), y = *static_cast<const long long *>(b);
    return (x > y) - (x < y);
}

}  // namespace

int main()
{
    // Trade numbers as exported twice by overlapping files: count each once.
    const std::vector<std::string> cells = {"5000000001", "12", "5000000001", "-7", "12", "0x10"};
    std::vector<long long> numbers;
    for (const std::string &cell : cells)
        numbers.push_back(strtoq1(cell.c_str(), nullptr, 10));
    std::sort(numbers.begin(), numbers.end());
    int kept = uniq(numbers.data(), numbers.size(), sizeof numbers[0], cmp_long_long);
    numbers.resize(kept);
    check(numbers == std::vector<long long>({-7, 0, 12, 5000000001LL}), "strtoq1 and uniq");

    check(std::string(insert_commas6(5000000001LL)) == "5000000001", "insert_commas6");
    check(std::string(insert_commas4(-1)) == "18,446,744,073,709,551,615", "insert_commas4");
    check(std::string(insert_commas2(1234567)) == "1,234,567", "insert_commas2");

    const std::vector<std::string> names = {"sdelki.xls", "Sdelki_2012-05.Xls", "sdelki.xlsx", "orders.txt"};
    long matched = std::count_if(names.begin(), names.end(), [](const std::string &n) {
        return fnmatch1("sdelki*.xls", n.c_str(), FNMATCH1_CASEFOLD) == 0;
    });
    check(matched == 2, "fnmatch1");

    char line[16];
    check(snprintf1(line, sizeof line, "%d orders", 12345) == 12 && std::string(line) == "12345 orders",
          "snprintf1");

    if (failures)
        return 1;
    std::printf("consumer (C++): ok\n");
    return 0;
}
