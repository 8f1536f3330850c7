// The command line: options, the folder argument and entering it.

#include "platform.h"

#include "command_line.h"

#include "keltools.h"

#include <cstdlib>
#include <string>

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

// Writes the answer to --help or --version on standard output and ends the
// process: with 0, or with 1 and one line on standard error when the text
// could not be written.
[[noreturn]] static void answer(const char *text)
{
    errno = 0;
    if (fputs(text, stdout) == EOF || fflush(stdout) != 0 || ferror(stdout))
        error1("cannot write to standard output (%s)\n", strerror(errno ? errno : EIO));
    exit(0);
}

static bool is_help(const char *arg)
{
    return strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0 || is_windows_help_switch(arg);
}

// Reads the arguments from left to right: --help and --version answer on
// standard output and end the process, anything else starting with "-" or a
// second folder stops it.  Returns the folder named, or null.
const char *parse_arguments(int argc, char **argv)
{
    const char *folder = nullptr;
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        if (is_help(arg))
            answer(usage_text);
        if (strcmp(arg, "--version") == 0)
            answer("varnock " VARNOCK_VERSION "\n");
        if (arg[0] == '-')
            error1("unknown option %s (see varnock --help)\n", arg);
        if (folder)
            error1("too many arguments (see varnock --help)\n");
        folder = arg;
    }
    return folder;
}

// The folder a path names: the path itself, or for a regular file (a trade
// file dropped onto the program's icon) the folder that holds it.
static std::string folder_of(const char *path)
{
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode))
        return path;
    size_t end = strlen(path);
    while (end > 0 && !is_path_separator(path[end - 1]))
        end--;
    if (end == 0)
        return ".";
    // Keep the separator of a root ("/", "C:\\") or of a drive ("C:").
    bool root = end == 1 || path[end - 1] == ':' || (end == 3 && path[1] == ':');
    return std::string(path, root ? end : end - 1);
}

// Makes the folder named on the command line, if any, the one the run works
// in; a trade file named instead makes its folder that one.
void enter_folder(const char *folder)
{
    if (!folder)
        return;
    std::string dir = folder_of(folder);
    if (chdir(dir.c_str()) != 0)
        error1("cannot change to directory %s (%s)\n", dir.c_str(), strerror(errno));
}
