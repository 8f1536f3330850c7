// digits: numbers written with their digits grouped by commas.

#include "keltools.h"
#include "internal.h"

namespace {

keltools_internal::ring_buffers<8, 27> comma_buffers;

// Writes the ndigits decimal digits of v (leading zeros included) into b,
// a comma after every digit whose remaining count is a positive multiple of
// three when grouped, then blanks the leading zeros and commas and puts a
// lone 0 back for zero.
char *build(unsigned long long v, int ndigits, bool grouped)
{
    char *b = comma_buffers.next();
    int width = grouped ? ndigits + (ndigits - 1) / 3 : ndigits;
    b[width] = '\0';
    int pos = width - 1;
    for (int k = 0; k < ndigits; k++) {
        if (grouped && k > 0 && k % 3 == 0)
            b[pos--] = ',';
        b[pos--] = (char)('0' + v % 10);
        v /= 10;
    }
    for (int i = 0; b[i] == '0' || b[i] == ','; i++)
        b[i] = ' ';
    if (b[width - 1] == ' ')
        b[width - 1] = '0';
    return b;
}

char *skip_blanks(char *s)
{
    while (*s == ' ')
        s++;
    return s;
}

}  // namespace

char *insert_commas(unsigned int number) { return build(number, 10, true); }
char *insert_commas2(unsigned int number) { return skip_blanks(insert_commas(number)); }
char *insert_commas3(long long number) { return build((unsigned long long)number, 20, true); }
char *insert_commas4(long long number) { return skip_blanks(insert_commas3(number)); }
char *insert_commas5(long long number) { return build((unsigned long long)number, 20, false); }
char *insert_commas6(long long number) { return skip_blanks(insert_commas5(number)); }
