// Fuzz target for the strptime-style parser.
// Input: the format, a NUL byte, then the text.  The parser must return null or
// a position inside the text (its terminator included), and write nothing but
// the fields of the record.
#include "keltools.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string input((const char *)data, size);
    size_t cut = input.find('\0');
    std::string fmt = input.substr(0, cut);
    std::string text = cut == std::string::npos ? "" : input.substr(cut + 1);
    text = text.substr(0, text.find('\0'));

    // The record sits between two guards that must stay untouched.
    struct {
        char before[16];
        struct tm tm;
        char after[16];
    } frame;
    memset(&frame, 0x5a, sizeof frame);
    memset(&frame.tm, 0, sizeof frame.tm);

    const char *buf = text.c_str();
    char *end = str_ptime(buf, fmt.c_str(), &frame.tm);
    if (end != nullptr && (end < buf || end > buf + text.size()))
        abort();
    for (int i = 0; i < 16; i++)
        if (frame.before[i] != 0x5a || frame.after[i] != 0x5a)
            abort();
    return 0;
}
