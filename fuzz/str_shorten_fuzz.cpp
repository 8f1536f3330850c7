// Fuzz target for the short FAT-safe names.
// Input: one byte choosing a length (0 to 15) for the reduction, then a name.
// str_shorten must give null exactly when no FAT-safe character is left (trailing
// dots aside), and otherwise a name of FAT-safe characters with a base of at most
// 8 and an extension of at most 3.  str_reduce and str_try_shorten only ever
// delete characters: their results are subsequences of their input, of the
// length asked for.
#include "keltools.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char fat_allowed[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789()[]{}~!@#$%^&.-_";

bool fat_safe(char c)
{
    return c != '\0' && strchr(fat_allowed, c) != nullptr;
}

bool is_subsequence(const std::string &part, const std::string &whole)
{
    size_t i = 0;
    for (char c : whole)
        if (i < part.size() && part[i] == c)
            i++;
    return i == part.size();
}

void check_short_name(const std::string &name)
{
    std::string usable;
    for (char c : name)
        if (fat_safe(c))
            usable += c;
    while (!usable.empty() && usable.back() == '.')
        usable.pop_back();

    const char *r = str_shorten(name.c_str());
    if (usable.empty() != (r == nullptr))
        abort();
    if (r == nullptr)
        return;
    std::string s = r;
    for (char c : s)
        if (!fat_safe(c))
            abort();
    size_t dot = s.find('.');
    size_t base = dot == std::string::npos ? s.size() : dot;
    if (base == 0 || base > 8)
        abort();
    if (dot != std::string::npos) {
        std::string ext = s.substr(dot + 1);
        if (ext.empty() || ext.size() > 3 || ext.find('.') != std::string::npos)
            abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    int len = data[0] % 16;
    std::string name((const char *)data + 1, size - 1);
    name = name.substr(0, name.find('\0'));

    check_short_name(name);

    // Exactly len + 1 bytes, so that a write past them is caught.
    char *dest = (char *)malloc((size_t)len + 1);
    char *r = str_reduce(dest, name.c_str(), len);
    if (len < 1) {
        if (r != nullptr)
            abort();
    } else {
        std::string got(dest, strnlen(dest, (size_t)len + 1));
        if (r != dest || got.size() != std::min(name.size(), (size_t)len) ||
            !is_subsequence(got, name))
            abort();
    }
    free(dest);

    std::string edited = name;
    str_try_shorten(edited.data());
    std::string after(edited.c_str());
    if (!name.empty() && (after.size() + 1 != name.size() || !is_subsequence(after, name)))
        abort();
    return 0;
}
