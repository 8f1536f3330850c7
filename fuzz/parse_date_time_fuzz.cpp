// Fuzz target for the fixed-layout date parser and its helpers.
// Input: one byte choosing the layout (0 to 11, so unknown codes are covered)
// and whether a time-of-day text follows; then the date text, and after a NUL
// byte the time text.  The month lookup gets the date text too, and the
// duration column gets the first eight bytes as a number of seconds.
#include "keltools.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    int fmt = data[0] % 12;
    bool with_time = data[0] & 0x80;
    std::string rest((const char *)data + 1, size - 1);
    size_t cut = rest.find('\0');
    std::string ds = rest.substr(0, cut);
    std::string ts = cut == std::string::npos ? "" : rest.substr(cut + 1);

    parse_date_time(fmt, ds.c_str(), with_time ? ts.c_str() : nullptr);

    int month = txt2mon(ds.c_str());
    if (month < 0 || month > 11)
        abort();

    unsigned long seconds = 0;
    memcpy(&seconds, data, size < sizeof seconds ? size : sizeof seconds);
    if (strlen(make_time(seconds)) != 9)
        abort();
    return 0;
}
