// Times the report writer on synthetic consolidated trades: N records over
// 40 stocks and 3 years, written as one page per year plus the overall page.
// Prints records per second, the page bytes written per second, and the
// ratio to a floor that only writes the same number of bytes to one file.
// Wall and CPU (user + system) times are both shown: on a shared machine
// the CPU time is the steadier figure.
//
//   reports_bench [records]      (default 200000)

#include "records.h"
#include "reports.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

static double cpu_seconds()
{
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

static double wall_seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Writes bytes zero bytes to "floor.html" in 64 KiB pieces.
static void write_floor(long long bytes)
{
    static char block[1 << 16];
    FILE *fp = fopen("floor.html", "w");
    for (long long left = bytes; left > 0; left -= sizeof block)
        fwrite(block, 1, left < (long long)sizeof block ? (size_t)left : sizeof block, fp);
    fclose(fp);
    unlink("floor.html");
}

int main(int argc, char **argv)
{
    int n = argc > 1 ? atoi(argv[1]) : 200000;
    std::vector<std::string> names;
    for (int k = 0; k < 40; k++)
        names.push_back((k % 2 ? "\xC0\xEA\xF6\xE8\xFF-" : "Stock-") + std::to_string(k));
    trade_store_t store = {};
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
        t.stock = text_copy(&store.texts, names[rand() % names.size()].c_str());   // shared copies, as the import makes them
        t.ticker = text_copy(&store.texts, "TICK");
        t.direction = 1 + rand() % 2;
        t.price = 10 + (rand() % 100000) / 100.0;
        t.amount = t.price * (1 + rand() % 1000);
        t.commission = t.amount * 0.0005;
    }
    char dir[] = "/tmp/reports_bench_XXXXXX";
    if (!mkdtemp(dir) || chdir(dir) != 0)
        return 1;
    double wall = wall_seconds(), cpu = cpu_seconds();
    rank_texts(&store);
    write_reports(T.data(), n, store.ranks);
    wall = wall_seconds() - wall, cpu = cpu_seconds() - cpu;
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
    double floor_wall = wall_seconds(), floor_cpu = cpu_seconds();
    write_floor(bytes);
    floor_wall = wall_seconds() - floor_wall, floor_cpu = cpu_seconds() - floor_cpu;
    if (chdir("/") != 0 || rmdir(dir) != 0)
        return 1;
    printf("write_reports: %d records, %.1f MB of pages: wall %.3f s (%.0f records/s), "
           "cpu %.3f s (%.0f records/s, %.0f MB/s); floor wall %.3f s cpu %.3f s; "
           "ratio wall %.1f cpu %.1f\n",
           n, bytes / 1e6, wall, n / wall, cpu, n / cpu, bytes / 1e6 / cpu, floor_wall, floor_cpu,
           wall / floor_wall, cpu / floor_cpu);
    return 0;
}
