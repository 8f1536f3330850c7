// Encodings: trade files saved in UTF-8 or UTF-16, recognised and converted
// to Windows-1251.

#include "encodings.h"

#include <cstdint>
#include <cstring>

// Some editors save a trade file in UTF-8.  Such a file is recognised when
// all of it is strict UTF-8 (shortest forms, no surrogates, nothing beyond
// U+10FFFF; a character cut off by the end of the file is allowed) and it
// starts with a byte-order mark or holds a Cyrillic letter (U+0400 to
// U+04FF).  Windows-1251 text with Cyrillic letters practically never
// passes: its letters are lead bytes followed by lead bytes.  A recognised
// file is converted to Windows-1251 in place before its rows are read, so it
// imports exactly like the terminal's own export.

static const char utf8_bom[] = "\xEF\xBB\xBF";

const uint16_t cp1251_upper[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,   // 0x80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,   // 0x88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,   // 0x90
    0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,   // 0x98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,   // 0xA0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,   // 0xA8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,   // 0xB0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,   // 0xB8
};

// The Windows-1251 byte of a code point of U+0080 or above, or "?" when the
// code page has none.
static unsigned char cp1251_byte(uint32_t code)
{
    if (code >= 0x410 && code <= 0x44F)
        return (unsigned char)(0xC0 + (code - 0x410));
    for (int k = 0; k < 64; k++)
        if (cp1251_upper[k] == code)
            return (unsigned char)(0x80 + k);
    return '?';
}

// Decodes the character of several bytes that starts at s[0] (n bytes
// left, s[0] >= 0x80) into *code.  Returns its length; 0 when the bytes are
// not a character of strict UTF-8; -1 when they begin one but the text ends
// first.
static int utf8_decode(const unsigned char *s, size_t n, uint32_t *code)
{
    unsigned char c = s[0], lo = 0x80, hi = 0xBF;   // the bounds of the second byte
    int len;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2, cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3, cp = c & 0x0F;
        lo = c == 0xE0 ? 0xA0 : lo;   // no overlong forms
        hi = c == 0xED ? 0x9F : hi;   // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4, cp = c & 0x07;
        lo = c == 0xF0 ? 0x90 : lo;   // no overlong forms
        hi = c == 0xF4 ? 0x8F : hi;   // nothing beyond U+10FFFF
    } else {
        return 0;
    }
    for (int k = 1; k < len; k++) {
        if ((size_t)k == n)
            return -1;
        if (s[k] < (k == 1 ? lo : 0x80) || s[k] > (k == 1 ? hi : 0xBF))
            return 0;
        cp = cp << 6 | (s[k] & 0x3F);
    }
    *code = cp;
    return len;
}

// Whether text[0..len) is a trade file saved in UTF-8 (see above).
bool is_utf8_export(const char *text, size_t len)
{
    const unsigned char *s = (const unsigned char *)text;
    bool marked = len >= 3 && memcmp(s, utf8_bom, 3) == 0;
    for (size_t i = 0; i < len;) {
        if (s[i] < 0x80) {
            i++;
            continue;
        }
        uint32_t code;
        int n = utf8_decode(s + i, len - i, &code);
        if (n == 0)
            return false;
        if (n < 0)
            break;
        marked |= code >= 0x400 && code <= 0x4FF;
        i += n;
    }
    return marked;
}

// Converts a text that is_utf8_export() accepted to Windows-1251 in place:
// the byte-order mark and a character cut off at the end are dropped, a
// character the code page lacks becomes one "?".  Returns the new length;
// a NUL follows the text.
size_t utf8_to_cp1251(char *text, size_t len)
{
    unsigned char *s = (unsigned char *)text, *o = s;
    size_t i = len >= 3 && memcmp(s, utf8_bom, 3) == 0 ? 3 : 0;
    while (i < len) {
        if (s[i] < 0x80) {
            *o++ = s[i++];
            continue;
        }
        uint32_t code;
        int n = utf8_decode(s + i, len - i, &code);
        if (n <= 0)
            break;
        *o++ = cp1251_byte(code);
        i += (size_t)n;
    }
    *o = 0;
    return (size_t)(o - s);
}

// A trade file whose length changes while it is read (the terminal is

// A file saved in UTF-16 starts with a byte-order mark: FF FE for
// little-endian, FE FF for big-endian.  It is converted like a UTF-8 one,
// two bytes at a time; a code point beyond U+FFFF (a surrogate pair), a
// surrogate without its partner and a character the code page lacks each
// become one "?".

bool is_utf16_export(const char *text, size_t len)
{
    const unsigned char *s = (const unsigned char *)text;
    return len >= 2 && ((s[0] == 0xFF && s[1] == 0xFE) || (s[0] == 0xFE && s[1] == 0xFF));
}

static bool is_high_surrogate(uint32_t u)
{
    return u >= 0xD800 && u <= 0xDBFF;
}

static bool is_low_surrogate(uint32_t u)
{
    return u >= 0xDC00 && u <= 0xDFFF;
}

// Converts a text that is_utf16_export() accepted to Windows-1251 in place;
// an odd last byte is dropped.  Each output byte takes two or more input
// bytes, so the output never overtakes the input.
size_t utf16_to_cp1251(char *text, size_t len)
{
    const unsigned char *s = (const unsigned char *)text;
    const bool little = s[0] == 0xFF;
    auto unit = [&](size_t i) -> uint32_t { return little ? s[i] | s[i + 1] << 8 : s[i] << 8 | s[i + 1]; };
    size_t o = 0;
    for (size_t i = 2; i + 1 < len; i += 2) {
        uint32_t u = unit(i);
        if (is_high_surrogate(u) && i + 3 < len && is_low_surrogate(unit(i + 2)))
            i += 2;   // a character beyond U+FFFF: the code page has none
        if (u >= 0xD800 && u <= 0xDFFF)
            text[o++] = '?';
        else
            text[o++] = (char)(u < 0x80 ? u : cp1251_byte(u));
    }
    text[o] = 0;
    return o;
}
