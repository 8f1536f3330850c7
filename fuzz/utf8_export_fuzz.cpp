// Fuzz target for the recognition and conversion of trade files saved in
// UTF-8 or UTF-16.  The input is one loaded file.  Beside the analyzer's
// functions runs a plain reading of the rules: characters decoded by the
// textbook bit pattern, then checked for overlong forms, surrogates and the
// upper limit (UTF-8) or paired as surrogates (UTF-16), and each converted
// through the C library's own Windows-1251 converter (iconv), a character it
// cannot convert, or a lone surrogate, giving "?".  Both must agree on whether
// the file is UTF-8 or UTF-16 and on every byte of the converted text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <iconv.h>

#include "encodings.h"

namespace {

// The characters of a text, or false when it is not strict UTF-8; a
// character cut off by the end ends the list.
bool decode(const uint8_t *s, size_t n, std::vector<uint32_t> *out)
{
    for (size_t i = 0; i < n;) {
        uint8_t c = s[i];
        int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (len == 0)
            return false;
        uint32_t cp = len == 1 ? c : c & (0x7F >> len);
        int k = 1;
        for (; k < len && i + k < n; k++) {
            if ((s[i + k] & 0xC0) != 0x80)
                return false;
            cp = cp << 6 | (s[i + k] & 0x3F);
        }
        static const uint32_t smallest[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (k < len) {
            // Cut off by the end: the bytes present must begin some valid
            // character.  Their completions span [low, high].
            uint32_t low = cp, high = cp;
            for (int rest = k; rest < len; rest++)
                low = low << 6, high = high << 6 | 0x3F;
            low = std::max(low, smallest[len]);
            high = std::min(high, 0x10FFFFu);
            return low <= high && !(low >= 0xD800 && high <= 0xDFFF);
        }
        if (cp < smallest[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        out->push_back(cp);
        i += (size_t)len;
    }
    return true;
}

char to_cp1251(iconv_t cd, uint32_t cp)
{
    char in[4], out[4];
    memcpy(in, &cp, 4);   // UTF-32LE on the machines we fuzz on
    char *pin = in, *pout = out;
    size_t nin = 4, nout = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &pin, &nin, &pout, &nout) == (size_t)-1 || pout - out != 1)
        return '?';
    return out[0];
}

// The Windows-1251 text of a UTF-16 file with its byte-order mark.
std::string utf16_reference(iconv_t cd, const uint8_t *s, size_t n)
{
    bool little = s[0] == 0xFF;
    std::vector<uint32_t> units;
    for (size_t i = 2; i + 1 < n; i += 2)
        units.push_back(little ? s[i] | s[i + 1] << 8 : s[i] << 8 | s[i + 1]);
    std::string out;
    for (size_t k = 0; k < units.size(); k++) {
        uint32_t u = units[k];
        bool high = u >= 0xD800 && u <= 0xDBFF;
        if (high && k + 1 < units.size() && units[k + 1] >= 0xDC00 && units[k + 1] <= 0xDFFF)
            u = 0x10000 + ((u - 0xD800) << 10) + (units[++k] - 0xDC00);
        bool lone = u >= 0xD800 && u <= 0xDFFF;
        out += lone ? '?' : u < 0x80 ? (char)u : to_cp1251(cd, u);
    }
    return out;
}

// The UTF-16 rules: recognised by the mark alone.
void check_utf16(iconv_t cd, const uint8_t *data, size_t size)
{
    bool expected = size >= 2 && ((data[0] == 0xFF && data[1] == 0xFE) || (data[0] == 0xFE && data[1] == 0xFF));
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    if (is_utf16_export(text.data(), size) != expected) {
        fprintf(stderr, "UTF-16 recognition differs: reference says %d\n", expected);
        abort();
    }
    if (!expected)
        return;
    size_t len = utf16_to_cp1251(text.data(), size);
    if (std::string(text.data(), len) != utf16_reference(cd, data, size) || text[len] != '\0') {
        fprintf(stderr, "UTF-16 conversion differs\n");
        abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static iconv_t cd = iconv_open("CP1251", "UTF-32LE");
    if (cd == (iconv_t)-1)
        abort();
    check_utf16(cd, data, size);
    std::vector<uint32_t> chars;
    bool valid = decode(data, size, &chars);
    bool bom = size >= 3 && memcmp(data, "\xEF\xBB\xBF", 3) == 0;
    bool cyrillic = false;
    for (uint32_t cp : chars)
        cyrillic |= cp >= 0x400 && cp <= 0x4FF;
    bool expected = valid && (bom || cyrillic);

    std::vector<char> text(data, data + size);
    text.push_back('\0');
    if (is_utf8_export(text.data(), size) != expected) {
        fprintf(stderr, "recognition differs: reference says %d\n", expected);
        abort();
    }
    if (!expected)
        return 0;
    std::string reference;
    for (size_t i = bom ? 1 : 0; i < chars.size(); i++)
        reference += chars[i] < 0x80 ? (char)chars[i] : to_cp1251(cd, chars[i]);
    size_t len = utf8_to_cp1251(text.data(), size);
    if (std::string(text.data(), len) != reference || text[len] != '\0') {
        fprintf(stderr, "conversion differs\n");
        abort();
    }
    return 0;
}
