// Fuzz target for the wildcard matcher.
// Input: one byte of flags (all five flags and some ignored high bits), then the
// pattern, a NUL byte, and the name.  Besides surviving every input, the matcher
// must keep four properties that follow from its rules:
//   - the result is 0 or FNMATCH1_NOMATCH;
//   - it is the result of the recursive matcher the library had before, on
//     every input with few enough star groups for that one to finish;
//   - with case folding, the case of the name's letters makes no difference;
//   - a pattern that escapes every character of a name matches that name
//     (unless backslashes are ordinary characters).
#include "keltools.h"
#include "../tests/support/fnmatch1_reference.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// Star groups cost the reference a level of backtracking each; its time grows
// as the name's length to the power of their number (four groups against a
// name of 350 characters take minutes), so it sees only patterns with few.
int star_groups(const std::string &pattern)
{
    int groups = 0;
    for (size_t i = 0; i < pattern.size(); i++)
        if (pattern[i] == '*' && (i == 0 || pattern[i - 1] != '*'))
            groups++;
    return groups;
}

std::string with_case(const std::string &s, int (*convert)(int))
{
    std::string r = s;
    for (char &c : r)
        c = (char)convert((unsigned char)c);
    return r;
}

std::string escaped(const std::string &s)
{
    std::string r;
    for (char c : s) {
        r += '\\';
        r += c;
    }
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    int flags = data[0] | ((data[0] & 0x80) ? 0x100 : 0);
    std::string rest((const char *)data + 1, size - 1);
    size_t cut = rest.find('\0');
    std::string pattern = rest.substr(0, cut);
    std::string name = cut == std::string::npos ? "" : rest.substr(cut + 1);
    name = name.substr(0, name.find('\0'));
    int r = fnmatch1(pattern.c_str(), name.c_str(), flags);
    if (r != 0 && r != FNMATCH1_NOMATCH)
        abort();
    if (star_groups(pattern) <= (name.size() <= 32 ? 4 : 2) &&
        fnmatch1_reference::fnmatch1(pattern.c_str(), name.c_str(), flags) != r)
        abort();

    if (flags & FNMATCH1_CASEFOLD) {
        if (fnmatch1(pattern.c_str(), with_case(name, tolower).c_str(), flags) != r ||
            fnmatch1(pattern.c_str(), with_case(name, toupper).c_str(), flags) != r)
            abort();
    }
    if (!(flags & FNMATCH1_NOESCAPE) && fnmatch1(escaped(name).c_str(), name.c_str(), flags) != 0)
        abort();
    return 0;
}
