// str_shorten: short FAT-safe file names.

#include "keltools.h"

/* ---- short names ---- */


