// Fuzz target for the path sanitisers.
// Input: a path.  Both normalisers and the splitter run on it; the results must
// use "/" only, hold no "/../" component, and end in a slash only when they are
// a lone "/".  sanify_pathname gets exactly the one spare byte it may use.
#include "keltools.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The part after a drive prefix ("c:").
std::string after_drive(const std::string &s)
{
    return s.size() >= 2 && s[1] == ':' ? s.substr(2) : s;
}

void check_normal(const std::string &path)
{
    if (path.find('\\') != std::string::npos)
        abort();
    std::string tail = after_drive(path);
    if (tail.find("/../") != std::string::npos)
        abort();
    if (tail.size() > 1 && tail.back() == '/')
        abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string path((const char *)data, size);
    path = path.substr(0, path.find('\0'));
    // The in-place sanitiser copies a tail through a buffer of 8192 bytes.
    if (path.size() >= 8192)
        return 0;

    char *s = str_sanify(path.c_str());
    check_normal(s);
    free(s);

    char *in_place = (char *)malloc(path.size() + 2);
    memcpy(in_place, path.c_str(), path.size() + 1);
    sanify_pathname(in_place);
    check_normal(in_place);
    free(in_place);

    char *dir = nullptr, *name = nullptr;
    char *r = str_pathdcmp(path.c_str(), &dir, &name);
    if (r != name)
        abort();
    if (name != nullptr && (name[0] == '\0' || strchr(name, '/') != nullptr))
        abort();
    free(dir);
    free(name);
    return 0;
}
