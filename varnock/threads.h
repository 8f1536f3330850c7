// How many threads the run may use.  Included by the modules that run work
// beside the main thread (the import of trade files, the profit book).
#pragma once

// VARNOCK_THREADS when it holds a number from 1 to 64, else the number of
// online processors (1 when it is not known).  One thread means the run
// works as a single-threaded program: nothing is started beside it.
int run_threads();
// Whether VARNOCK_THREADS asks for a number of threads: the run then uses
// them even where its input is too small to gain from them.
bool threads_asked();
