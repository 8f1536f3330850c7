// The command line.  Included by main.cpp and its tests.
#pragma once

// Reads the arguments from left to right: --help (-h; /? and /h on Windows)
// and --version answer on standard output and end the process (with status 1
// when the answer cannot be written), anything else starting with "-" or a
// second folder stops it.  Returns the folder named, or null.
const char *parse_arguments(int argc, char **argv);
// Makes the folder named on the command line, if any, the one the run works
// in; a trade file named instead (dropped onto the icon) makes its folder
// that one.
void enter_folder(const char *folder);
