// str_paths: path names made tidy, and cut into directory and name.

#include "compat.h"
#include "keltools.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

/*
 * Path sanitising.  Both normalisers work on the text after a drive prefix
 * ("c:"): backslashes become '/', a '/' is appended so that a final ".." is
 * seen as "/../", every "/./" becomes "/", every "/../" removes the
 * component before it, and trailing slashes go.  They differ in two details
 * kept from the past: a ".." with no component before it leaves a leading
 * "//" in sanify_pathname, and the final '/' is appended only when needed.
 */

namespace {

bool has_drive(const char *s)
{
    return s[0] != '\0' && s[1] == ':';
}

void collapse_dot_components(char *t)
{
    while (char *p = strstr(t, "/./"))
        memmove(p, p + 2, strlen(p + 2) + 1);
}

// Resolves every "/../" of t; with double_root, a ".." that has no component
// before it leaves "/" in front of the rest.
void collapse_dotdot_components(char *t, bool double_root)
{
    while (char *p = strstr(t, "/../")) {
        char *rest = p + 3;  // begins with '/'
        *p = '\0';
        char *dest = strrchr(t, '/');
        if (!dest) {
            dest = t;
            if (double_root)
                *dest++ = '/';
        }
        memmove(dest, rest, strlen(rest) + 1);
    }
}

void strip_trailing_slashes(char *t)
{
    size_t n = strlen(t);
    while (n > 1 && t[n - 1] == '/')
        t[--n] = '\0';
}

}  // namespace

char *str_sanify(const char *s)
{
    char *r = str_strdup1(s, 10);
    if (!r)
        return nullptr;
    str_translate(r, '\\', '/');
    bool drive = has_drive(r);
    char *t = drive ? r + 2 : r;
    strcat(t, "/");
    collapse_dot_components(t);
    collapse_dotdot_components(t, false);
    strip_trailing_slashes(t);
    if (drive)
        r[0] = (char)tolower((unsigned char)r[0]);
    return r;
}

int sanify_pathname(char *s)
{
    str_translate(s, '\\', '/');
    bool drive = has_drive(s);
    char *t = drive ? s + 2 : s;
    size_t n = strlen(t);
    if (n > 0 && t[n - 1] != '/')
        strcat(t, "/");
    collapse_dot_components(t);
    collapse_dotdot_components(t, true);
    strip_trailing_slashes(t);
    if (!drive)
        return 0;
    s[0] = (char)tolower((unsigned char)s[0]);
    return (unsigned char)s[0];
}

char *str_pathdcmp(const char *s, char **path, char **name)
{
    char *dir = nullptr, *file = nullptr;
    char *norm = str_sanify(s);
    if (norm) {
        char *slash = strrchr(norm, '/');
        if (slash) {
            *slash = '\0';
            dir = str_strdup1(norm, 1);
            if (dir && strlen(dir) == 2 && has_drive(dir))
                strcat(dir, "/");
            if (slash[1])
                file = strdup(slash + 1);
        } else if (has_drive(norm)) {
            dir = strndup(norm, 2);
            if (norm[2])
                file = strdup(norm + 2);
        } else {
            file = strdup(norm);
        }
        free(norm);
    }
    if (path)
        *path = dir;
    else
        free(dir);
    if (name)
        *name = file;
    return file;
}
