// Trade files saved in UTF-8 or UTF-16: recognition and conversion to Windows-1251.
// Included by the trade-file loader and by tests and fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>

// Code points of the Windows-1251 bytes 0x80 to 0xBF (0 for 0x98, which has
// none); the bytes 0xC0 to 0xFF are U+0410 to U+044F in order.
extern const uint16_t cp1251_upper[64];

// The Unicode code point of a Windows-1251 byte; 0 for 0x98.
inline uint32_t cp1251_code_point(unsigned char c)
{
    return c < 0x80 ? c : c < 0xC0 ? cp1251_upper[c - 0x80] : 0x0410 + (c - 0xC0);
}

// Whether text[0..len) is a trade file saved in UTF-8: all of it strict UTF-8
// (a character cut off by the end allowed) with a byte-order mark or a
// Cyrillic letter.
bool is_utf8_export(const char *text, size_t len);
// Converts a text that is_utf8_export() accepted to Windows-1251 in place:
// the byte-order mark and a character cut off at the end are dropped, a
// character the code page lacks becomes one "?".  Returns the new length;
// a NUL follows the text.
size_t utf8_to_cp1251(char *text, size_t len);
// Whether text[0..len) starts with a UTF-16 byte-order mark (FF FE or FE FF).
bool is_utf16_export(const char *text, size_t len);
// Converts a text that is_utf16_export() accepted to Windows-1251 in place,
// with the same mapping as utf8_to_cp1251: the mark and an odd last byte are
// dropped, a character the code page lacks (a surrogate pair or a lone
// surrogate included) becomes one "?".  Returns the new length; a NUL follows.
size_t utf16_to_cp1251(char *text, size_t len);
