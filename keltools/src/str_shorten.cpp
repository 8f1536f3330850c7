// str_shorten: short FAT-safe file names.

#include "keltools.h"
#include "internal.h"

#include <cstdlib>
#include <cstring>

using keltools_internal::in_set;

/* ---- short names ---- */

/*
 * Any file name becomes a FAT 8.3 name (base of at most 8 characters, an
 * optional extension of at most 3) built only from characters such file
 * systems accept.  Over-long words lose their least telling characters
 * first: punctuation, then inner dashes and underscores, vowels, consonants,
 * digits, and finally whatever comes last.  A compression suffix (".Z",
 * ".gz") survives as the tail of the extension, so "x.tar.gz" becomes
 * "x.tgz".
 */

namespace {

const char fat_allowed[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789()[]{}~!@#$%^&.-_";
const char vowels[] = "AEIJOUYaeijouy";
const char punctuation[] = "()[]{}~!@#$%^&";
const char dashes[] = "-_";
const char consonants[] = "BCDFGHKLMNPQRSTVWXZbcdfghklmnpqrstvwxz";
const char digits[] = "0123456789";

char fat_name[13];

// The last character of s from set, unless that is the very first character.
char *last_inner(char *s, const char *set)
{
    char *p = str_lastspn(s, set);
    return p != s ? p : nullptr;
}

// Deletes every character that is not FAT-safe.
void keep_fat_safe(char *s)
{
    char *out = s;
    for (const char *in = s; *in; in++)
        if (str_fatsafe((unsigned char)*in))
            *out++ = *in;
    *out = '\0';
}

// Recognises a compression suffix, removes it with its dot and returns the
// text it leaves in the extension ("z" or "gz"); null when there is none.
const char *take_compression_suffix(char *name)
{
    const char *suffix = nullptr;
    if (str_tailcmpi(name, ".Z") == 0)
        suffix = "z";
    else if (str_tailcmp(name, ".gz") == 0)
        suffix = "gz";
    if (suffix)
        *strrchr(name, '.') = '\0';
    return suffix;
}

// Lays the suffix over the tail of the 3-character extension field ("tar"
// with "gz" gives "tgz"), right after a shorter extension ("c" gives "cz").
void put_suffix(char *ext, const char *suffix)
{
    size_t ext_len = strlen(ext), suffix_len = strlen(suffix);
    size_t at = 3 - suffix_len;
    if (at > ext_len)
        at = ext_len;
    memcpy(ext + at, suffix, suffix_len + 1);
}

}  // namespace

int str_isvowel(int c)
{
    return in_set(c, vowels);
}

int str_fatsafe(int c)
{
    return in_set(c, fat_allowed);
}

char *str_try_shorten(char *s)
{
    if (!*s)
        return s;
    char *victim = str_lastspn(s, punctuation);
    if (!victim)
        victim = last_inner(s, dashes);
    if (!victim)
        victim = last_inner(s, vowels);
    if (!victim)
        victim = last_inner(s, consonants);
    if (!victim)
        victim = str_lastspn(s, digits);
    if (!victim)
        victim = s + strlen(s) - 1;
    return str_delete(s, victim);
}

char *str_reduce(char *dest, const char *src, int dest_len)
{
    if (dest_len < 1)
        return nullptr;
    char *work = xstrdup(src);
    while (strlen(work) > (size_t)dest_len)
        str_try_shorten(work);
    memset(dest, 0, (size_t)dest_len + 1);
    memcpy(dest, work, strlen(work));
    free(work);
    return dest;
}

char *str_shorten(const char *s)
{
    char *name = xstrdup(s);
    keep_fat_safe(name);
    str_strip(name, ".");
    if (!*name) {
        free(name);
        return nullptr;
    }
    if (name[0] == '.')
        name[0] = '_';
    const char *suffix = take_compression_suffix(name);
    while (str_numchars(name, '.') > 1)
        *strchr(name, '.') = '_';

    char base[9], ext[4] = "";
    char *dot = strchr(name, '.');
    if (dot) {
        *dot = '\0';
        str_reduce(ext, dot + 1, 3);
    }
    str_reduce(base, name, 8);
    free(name);
    if (suffix)
        put_suffix(ext, suffix);

    strcpy(fat_name, base);
    if (*ext) {
        strcat(fat_name, ".");
        strcat(fat_name, ext);
    }
    return fat_name;
}
