// fsort: array de-duplication and sorting of arrays and files.

#include "keltools.h"

/* ---- array de-duplication ---- */


/* ---- line reader, file sorts and array sort helpers ---- */


