// Fuzz target for the numeric data-file reader.
// Input: the file's content.  The table read must be that of a plain reading of
// the rules: the first data line that has words fixes the column count, every
// data line with that many blank-separated words becomes a row of atof values
// (a Fortran "d" exponent read as "e"), other lines are skipped.  Every column is then asked for, and one past the last.  The file is
// dropped from the cache after each input, so every input is read from disk.
#include "keltools.h"

#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

typedef std::vector<std::vector<double>> table_t;

bool data_line(const std::string &line)
{
    if (line.empty() || line[0] == '\n' || line[0] == '\r' || line[0] == '#')
        return false;
    for (char c : line)
        if (!strchr("0123456789eEdE.+- \r\n\t", c) || c == '\0')
            return false;
    return true;
}

std::vector<std::string> words(const std::string &line)
{
    std::vector<std::string> w;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isspace((unsigned char)line[i]))
            i++;
        size_t start = i;
        while (i < line.size() && !isspace((unsigned char)line[i]))
            i++;
        if (i > start)
            w.push_back(line.substr(start, i - start));
    }
    return w;
}

// The lines as a text-mode reader hands them out, each with its line feed.
std::vector<std::string> lines_of(const std::string &content)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < content.size()) {
        size_t lf = content.find('\n', start);
        size_t end = lf == std::string::npos ? content.size() : lf + 1;
        lines.push_back(content.substr(start, end - start));
        start = end;
    }
    return lines;
}

table_t expected_table(const std::string &content, int *ncols)
{
    std::vector<std::string> lines = lines_of(content);
    *ncols = 0;
    for (const std::string &line : lines)
        if (data_line(line) && !words(line).empty()) {
            *ncols = (int)words(line).size();
            break;
        }
    table_t table;
    for (const std::string &line : lines) {
        if (!data_line(line))
            continue;
        std::vector<std::string> w = words(line);
        if (*ncols == 0 || (int)w.size() != *ncols)
            continue;
        std::vector<double> row;
        for (std::string word : w) {
            size_t d = word.find('d');
            if (d != std::string::npos)
                word[d] = 'e';
            row.push_back(atof(word.c_str()));
        }
        table.push_back(row);
    }
    return table;
}

bool same(double a, double b)
{
    return memcmp(&a, &b, sizeof a) == 0;
}

std::string file_name()
{
    static std::string name = "datafile_fuzz." + std::to_string(getpid()) + ".dat";
    return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string content((const char *)data, size);
    // Lines are read in pieces of at most 16,383 characters; keep them whole.
    if (size > 16000)
        return 0;
    FILE *fp = fopen(file_name().c_str(), "wb");
    fwrite(content.data(), 1, content.size(), fp);
    fclose(fp);

    for (const std::string &line : lines_of(content))
        if (line.find('\0') == std::string::npos &&
            (valid_dataline(line.c_str()) != 0) != data_line(line))
            abort();

    double **rows = nullptr;
    int ncols = -1;
    int nrec = read_datafile(file_name().c_str(), &rows, &ncols);
    // A NUL byte ends a line's text early; only crash-freedom is asked then.
    if (content.find('\0') == std::string::npos) {
        int want_cols;
        table_t want = expected_table(content, &want_cols);
        if (nrec != (int)want.size() || ncols != want_cols)
            abort();
        for (int r = 0; r < nrec; r++)
            for (int c = 0; c < ncols; c++)
                if (!same(rows[r][c], want[(size_t)r][(size_t)c]))
                    abort();
        for (int c = 1; c <= ncols; c++) {
            double *column = nullptr;
            if (read_column(file_name().c_str(), c, &column) != nrec)
                abort();
            for (int r = 0; r < nrec; r++)
                if (!same(column[r], want[(size_t)r][(size_t)c - 1]))
                    abort();
            free(column);
        }
        double *column = nullptr;
        if (read_column(file_name().c_str(), ncols + 1, &column) != -2 ||
            read_column(file_name().c_str(), 0, &column) != -2)
            abort();
    }
    drop_datafile(file_name().c_str());
    unlink(file_name().c_str());
    return 0;
}
