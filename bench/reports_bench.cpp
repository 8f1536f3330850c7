// Times the report writer on synthetic consolidated trades: N records over
// 40 stocks and 3 years, written as one page per year plus the overall page.
// Prints records per second and the page bytes written per second.
//
//   reports_bench [records]      (default 200000)

#define main varnock_main
#include "../misc/varnock.cpp"
#undef main

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    int n = argc > 1 ? atoi(argv[1]) : 200000;
    std::vector<std::string> names;
    for (int k = 0; k < 40; k++)
        names.push_back((k % 2 ? "\xC0\xEA\xF6\xE8\xFF-" : "Stock-") + std::to_string(k));
    std::vector<transaction_t> T(n);
    srand(1);
    for (int i = 0; i < n; i++) {
        transaction_t &t = T[i];
        t.y = 2011 + rand() % 3;
        t.mo = 1 + rand() % 12;
        t.d = 1 + rand() % 28;
        t.h = 10 + rand() % 8;
        t.mi = rand() % 60;
        t.s = rand() % 60;
        t.stock = const_cast<char *>(names[rand() % names.size()].c_str());
        t.ticker = const_cast<char *>("TICK");
        t.direction = 1 + rand() % 2;
        t.price = 10 + (rand() % 100000) / 100.0;
        t.amount = t.price * (1 + rand() % 1000);
        t.commission = t.amount * 0.0005;
    }
    char dir[] = "/tmp/reports_bench_XXXXXX";
    if (!mkdtemp(dir) || chdir(dir) != 0)
        return 1;
    auto start = std::chrono::steady_clock::now();
    write_reports(T.data(), n);
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    long long bytes = 0;
    struct stat st;
    for (int y = 2011; y <= 2013; y++) {
        std::string name = "report-" + std::to_string(y) + ".html";
        if (stat(name.c_str(), &st) == 0)
            bytes += st.st_size;
        unlink(name.c_str());
    }
    if (stat("report.html", &st) == 0)
        bytes += st.st_size;
    unlink("report.html");
    if (chdir("/") != 0 || rmdir(dir) != 0)
        return 1;
    printf("write_reports: %d records in %.3f s (%.0f records/s), %.1f MB of pages (%.0f MB/s)\n",
           n, secs, n / secs, bytes / 1e6, bytes / 1e6 / secs);
    return 0;
}
