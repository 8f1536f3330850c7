// Fuzz target for text splitting and text-file loading.
// Input: one byte choosing the separator of load_textfile2 (its length 0 to 3,
// 0 meaning the default "\r\n"), the separator's bytes, then the file content.
// text2lines, load_textfile and load_textfile2 must give exactly the lines of a
// plain reading of their rules.
#include "keltools.h"

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

typedef std::vector<std::string> lines_t;

bool line_end(char c)
{
    return c == '\r' || c == '\n';
}

// Lines end at a run of CR and LF; the first line starts at the text even when
// it is empty, and a final run adds no line.
lines_t split_at_line_ends(const std::string &text)
{
    lines_t lines;
    size_t start = 0, i = 0;
    for (;;) {
        while (i < text.size() && !line_end(text[i]))
            i++;
        lines.push_back(text.substr(start, i - start));
        while (i < text.size() && line_end(text[i]))
            i++;
        if (i == text.size())
            return lines;
        start = i;
    }
}

// Lines end at every separator; a final separator adds no line.
lines_t split_at(const std::string &text, const std::string &sep)
{
    lines_t lines;
    size_t start = 0, i = 0;
    while (i < text.size()) {
        if (text.compare(i, sep.size(), sep) == 0) {
            lines.push_back(text.substr(start, i - start));
            i += sep.size();
            start = i;
            if (i == text.size())
                return lines;
        } else {
            i++;
        }
    }
    lines.push_back(text.substr(start));
    return lines;
}

void expect_lines(int n, char **lines, const lines_t &want)
{
    if (n != (int)want.size())
        abort();
    for (int i = 0; i < n; i++)
        if (want[(size_t)i] != lines[i])
            abort();
}

std::string file_name()
{
    static std::string name = "text2lines_fuzz." + std::to_string(getpid()) + ".txt";
    return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    size_t sep_len = data[0] % 4;
    if (size < 1 + sep_len)
        return 0;
    std::string sep((const char *)data + 1, sep_len);
    for (char &c : sep)
        if (c == '\0')
            c = 'x';  // a separator is a string: no NUL inside
    std::string content((const char *)data + 1 + sep_len, size - 1 - sep_len);

    // text2lines on the text as a string: it ends at the first NUL.
    std::string text = content.substr(0, content.find('\0'));
    std::string buffer = text;
    char **lines = nullptr;
    int n = text2lines(buffer.data(), &lines);
    expect_lines(n, lines, split_at_line_ends(text));
    free(lines);

    // The loaders see the whole file, NUL bytes turned into blanks.
    FILE *fp = fopen(file_name().c_str(), "wb");
    fwrite(content.data(), 1, content.size(), fp);
    fclose(fp);
    std::string blanked = content;
    for (char &c : blanked)
        if (c == '\0')
            c = ' ';

    lines = nullptr;
    n = load_textfile(file_name().c_str(), &lines);
    if (content.empty()) {
        if (n != -1)
            abort();
    } else {
        expect_lines(n, lines, split_at_line_ends(blanked));
        free(lines[0]);
        free(lines);
    }

    lines = nullptr;
    n = load_textfile2(file_name().c_str(), &lines, sep_len ? sep.c_str() : nullptr);
    if (content.empty()) {
        if (n != -1)
            abort();
    } else {
        expect_lines(n, lines, split_at(blanked, sep_len ? sep : "\r\n"));
        free(lines[0]);
        free(lines);
    }
    unlink(file_name().c_str());
    return 0;
}
