// misc: diagnostics, digit grouping, numeric data files, ranges and small helpers.

#include "keltools.h"

/* ---- diagnostics ---- */


/* ---- digit grouping ---- */


/* ---- numeric data, ranges, permission strings, content measures, executable lookup ---- */


