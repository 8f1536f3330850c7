// datetime: timestamp text, date-time parsing, conversion and pretty printing.

#include "keltools.h"

/* ---- timestamp ---- */


/* ---- date-time parsing, conversion and pretty printing ---- */


