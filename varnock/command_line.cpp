// The command line: options, the folder argument and entering it.

#include "platform.h"

#include "command_line.h"

#include "keltools.h"

#include <cstdlib>

#ifndef VARNOCK_VERSION
#error "VARNOCK_VERSION comes from the build (the project version)"
#endif

static const char usage_text[] =
    "usage: varnock [folder]\n"
    "       varnock --help | --version\n"
    "Reads every sdelki*.xls trade file (HTML tables of executed trades, in\n"
    "Windows-1251 or UTF-8) of the folder, the current one when none is named,\n"
    "and writes imported.txt, garbage.txt, orders.txt, report-YYYY.html and\n"
    "report.html there.  Progress and totals go to standard error.\n"
    "  -h, --help     print this help and exit\n"
    "      --version  print the version and exit\n";

// Reads the arguments from left to right: --help and --version answer on
// standard output and end the process, anything else starting with "-" or a
// second folder stops it.  Returns the folder named, or null.
const char *parse_arguments(int argc, char **argv)
{
    const char *folder = nullptr;
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
            fputs(usage_text, stdout);
            exit(0);
        }
        if (strcmp(arg, "--version") == 0) {
            fputs("varnock " VARNOCK_VERSION "\n", stdout);
            exit(0);
        }
        if (arg[0] == '-')
            error1("unknown option %s (see varnock --help)\n", arg);
        if (folder)
            error1("too many arguments (see varnock --help)\n");
        folder = arg;
    }
    return folder;
}

// Makes the folder named on the command line, if any, the one the run works in.
void enter_folder(const char *folder)
{
    if (folder && chdir(folder) != 0)
        error1("cannot change to directory %s (%s)\n", folder, strerror(errno));
}
