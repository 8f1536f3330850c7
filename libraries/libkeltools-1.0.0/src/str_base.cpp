// str_base: integer parsing and the string toolkit.

#include "keltools.h"

/* ---- 64-bit integer parsing ---- */


/* ---- case-insensitive prefix comparison ---- */


/* ---- string toolkit ---- */


