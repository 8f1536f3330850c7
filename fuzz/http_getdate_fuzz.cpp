// Fuzz target for HTTP date parsing and the time texts.
// Input: the date text.  Its calendar time, and also the first eight input
// bytes read as a raw time (any value, the extremes included), go through the
// zone moves and the three pretty printers, whose texts must fit their
// 128-byte buffers.
#include "keltools.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void print_all(time_t t)
{
    const char *texts[] = {pretty_date(t), pretty_dateonly(t), pretty_difftime(t)};
    for (const char *s : texts)
        if (strlen(s) >= 128)
            abort();
    gm2local(t);
    local2gm(t);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text((const char *)data, size);
    time_t t = http_getdate(text.c_str());
    if (t < 0)
        abort();
    print_all(t);

    time_t raw = 0;
    memcpy(&raw, data, size < sizeof raw ? size : sizeof raw);
    print_all(raw);
    return 0;
}
