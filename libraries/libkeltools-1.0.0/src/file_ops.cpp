// file_ops: whole-file loading, text loading and file system helpers.

#include "keltools.h"

/* ---- whole-file loading ---- */


/* ---- stream byte copy ---- */


/* ---- text loading, line output and file system helpers ---- */


