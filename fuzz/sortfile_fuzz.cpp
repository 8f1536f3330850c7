// Fuzz target for the external text-file sort on small memory budgets.
// Input: one byte for the budget (16 to 527 bytes), one byte of options (the
// order: cmp_str or cmp_strlen; sorting the file onto itself), then the file.
// On success the output must be the input's lines, each ended by a line feed
// and kept whole (NUL bytes included): nothing lost, nothing added.  The
// comparison sees a line up to its first NUL.  Under cmp_str the lines come in
// the order std::stable_sort gives (lines it ranks equal keep their input
// order); under cmp_strlen no line comes before one it ranks lower.  A failure is allowed only where the budget cannot hold a line
// (its bytes, its line feed and one line pointer), and it must leave the
// input as it was.  No chunk file outlives a sort, except the copy of a single
// chunk that could not be renamed.
#include "keltools.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const std::string &work_dir()
{
    static std::string dir = [] {
        char templ[] = "/tmp/sortfile_fuzz.XXXXXX";
        if (!mkdtemp(templ))
            abort();
        return std::string(templ);
    }();
    return dir;
}

const std::string &temp_dir()
{
    static std::string dir = [] {
        std::string d = work_dir() + "/chunks";
        mkdir(d.c_str(), 0777);
        return d;
    }();
    return dir;
}

std::vector<std::string> names_in(const std::string &dir)
{
    std::vector<std::string> names;
    DIR *d = opendir(dir.c_str());
    while (struct dirent *e = readdir(d))
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
            names.push_back(e->d_name);
    closedir(d);
    return names;
}

void empty_dir(const std::string &dir)
{
    for (const std::string &name : names_in(dir))
        unlink((dir + "/" + name).c_str());
}

std::string read_all(const std::string &path)
{
    std::string s;
    FILE *fp = fopen(path.c_str(), "rb");
    if (!fp)
        return s;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, fp)) > 0)
        s.append(buf, n);
    fclose(fp);
    return s;
}

void write_all(const std::string &path, const std::string &bytes)
{
    FILE *fp = fopen(path.c_str(), "wb");
    fwrite(bytes.data(), 1, bytes.size(), fp);
    fclose(fp);
}

// The lines of a text; a last line without a line feed counts as a line.
std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t lf = text.find('\n', start);
        if (lf == std::string::npos)
            lf = text.size();
        lines.push_back(text.substr(start, lf - start));
        start = lf + 1;
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2 || size > 4096)
        return 0;
    int msize = 16 + data[0] * 2;
    bool by_length = data[1] & 1, onto_itself = data[1] & 2;
    std::string text((const char *)data + 2, size - 2);
    std::vector<std::string> lines = lines_of(text);

    std::string in = work_dir() + "/in", out = onto_itself ? in : work_dir() + "/out";
    unlink(out.c_str());
    write_all(in, text);
    int (*compare)(const void *, const void *) = by_length ? cmp_strlen : cmp_str;
    int r = sortfile(in.c_str(), out.c_str(), compare, msize, temp_dir().c_str());

    bool fits = true;
    for (const std::string &line : lines)
        if (line.size() + 1 + sizeof(char *) > (size_t)msize)
            fits = false;
    bool ends_in_line_feed = text.empty() || text.back() == '\n';

    if (r == 0) {
        std::vector<std::string> got = lines_of(read_all(out)), want = lines;
        if (read_all(out).size() != text.size() + (ends_in_line_feed ? 0 : 1))
            abort();
        auto before = [&](const std::string &a, const std::string &b) {
            const char *pa = a.c_str(), *pb = b.c_str();
            return compare(&pa, &pb) < 0;
        };
        if (!by_length)
            std::stable_sort(want.begin(), want.end(), before);
        else if (std::is_sorted(got.begin(), got.end(), before))
            std::sort(want.begin(), want.end()), std::sort(got.begin(), got.end());
        else
            abort();
        if (got != want)
            abort();
        if (names_in(temp_dir()).size() > 1)
            abort();
    } else if (r == -1) {
        if (fits && ends_in_line_feed)
            abort();
        if (read_all(in) != text)
            abort();
    } else {
        abort();
    }
    empty_dir(temp_dir());
    return 0;
}
