// fnmatch: shell-style wildcard matching.

#include "keltools.h"

/* ---- wildcard matching ---- */


