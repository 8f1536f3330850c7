// xfunc: checked file and memory operations, chunk sets, text buffers, tree removal.

#include "keltools.h"

/* ---- checked file and memory operations ---- */


/* ---- tree removal and checked seek ---- */


/* ---- memory chunk sets and text buffers ---- */


