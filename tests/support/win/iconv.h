// iconv for the Windows test programs: conversions between the code pages
// Windows knows by number, enough for the tests' UTF-8 to Windows-1251 texts.
#pragma once

#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

typedef struct kt_iconv {
    UINT to, from;
} *iconv_t;

inline UINT kt_code_page(const char *name)
{
    if (strcmp(name, "UTF-8") == 0)
        return CP_UTF8;
    if (strncmp(name, "CP", 2) == 0)
        return (UINT)atoi(name + 2);
    return 0;
}

inline iconv_t iconv_open(const char *to, const char *from)
{
    return new kt_iconv{kt_code_page(to), kt_code_page(from)};
}

inline int iconv_close(iconv_t cd)
{
    delete cd;
    return 0;
}

// Converts the whole input at once; -1 with EILSEQ or E2BIG otherwise.
inline size_t iconv(iconv_t cd, char **in, size_t *in_left, char **out, size_t *out_left)
{
    int wide_n = MultiByteToWideChar(cd->from, MB_ERR_INVALID_CHARS, *in, (int)*in_left, nullptr, 0);
    if (*in_left && wide_n <= 0)
        return errno = EILSEQ, (size_t)-1;
    std::wstring wide((size_t)wide_n, L'\0');
    MultiByteToWideChar(cd->from, 0, *in, (int)*in_left, wide.data(), wide_n);
    int n = WideCharToMultiByte(cd->to, 0, wide.data(), wide_n, nullptr, 0, nullptr, nullptr);
    if ((size_t)n > *out_left)
        return errno = E2BIG, (size_t)-1;
    WideCharToMultiByte(cd->to, 0, wide.data(), wide_n, *out, n, nullptr, nullptr);
    *in += *in_left, *in_left = 0;
    *out += n, *out_left -= (size_t)n;
    return 0;
}
