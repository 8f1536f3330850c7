// The wildcard matcher as it was before the rewrite without recursion: a
// reference for tests and fuzzing only.  It backtracks recursively, one level
// per run of stars, and can take time exponential in their number, so give
// it only patterns with a few star groups.
#pragma once

#include "keltools.h"

#include <cstring>

namespace fnmatch1_reference {

enum bracket_result { BRACKET_MATCH, BRACKET_NOMATCH, BRACKET_MALFORMED };

inline int fold(int c, int flags)
{
    return (flags & FNMATCH1_CASEFOLD) && c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
}

inline bool escapes(int flags)
{
    return !(flags & FNMATCH1_NOESCAPE);
}

// A leading period that only a literal period may match.
inline bool period_rule(const char *s, const char *start, int flags)
{
    return (flags & FNMATCH1_PERIOD) && *s == '.' &&
           (s == start || ((flags & FNMATCH1_PATHNAME) && s[-1] == '/'));
}

// Whether "?", "*" or "[" may not take the character at s at all.
inline bool wildcard_refused(const char *s, const char *start, int flags)
{
    return *s == '\0' || (*s == '/' && (flags & FNMATCH1_PATHNAME)) || period_rule(s, start, flags);
}

// Evaluates the bracket expression that starts at p (just after "[") against
// test; on a verdict *end is set just past its closing "]".
inline bracket_result match_bracket(const char *p, int test, int flags, const char **end)
{
    bool negate = *p == '!' || *p == '^';
    if (negate)
        p++;
    signed char t = (signed char)fold(test, flags);
    bool inside = false;
    for (bool first = true; first || *p != ']'; first = false) {
        int c = (unsigned char)*p++;
        if (c == '\\' && escapes(flags))
            c = (unsigned char)*p++;
        if (c == '\0')
            return BRACKET_MALFORMED;
        if (c == '/' && (flags & FNMATCH1_PATHNAME))
            return BRACKET_NOMATCH;
        signed char lo = (signed char)fold(c, flags);
        if (p[0] == '-' && p[1] != '\0' && p[1] != ']') {
            p++;
            int c2 = (unsigned char)*p++;
            if (c2 == '\\' && escapes(flags))
                c2 = (unsigned char)*p++;
            if (c2 == '\0')
                return BRACKET_MALFORMED;
            signed char hi = (signed char)fold(c2, flags);
            if (lo <= t && t <= hi)
                inside = true;
        } else if (lo == t) {
            inside = true;
        }
    }
    *end = p + 1;
    return inside != negate ? BRACKET_MATCH : BRACKET_NOMATCH;
}

inline int match(const char *p, const char *s, const char *start, int flags);

// The pattern is at a run of stars.
inline int match_star(const char *p, const char *s, const char *start, int flags)
{
    while (*p == '*')
        p++;
    if (period_rule(s, start, flags))
        return FNMATCH1_NOMATCH;
    if (*p == '\0') {
        if (!(flags & FNMATCH1_PATHNAME) || (flags & FNMATCH1_LEADING_DIR) || !strchr(s, '/'))
            return 0;
        return FNMATCH1_NOMATCH;
    }
    if (*p == '/' && (flags & FNMATCH1_PATHNAME)) {
        s = strchr(s, '/');
        return s ? match(p, s, start, flags) : FNMATCH1_NOMATCH;
    }
    for (; *s != '\0'; s++) {
        if (match(p, s, start, flags & ~FNMATCH1_PERIOD) == 0)
            return 0;
        if (*s == '/' && (flags & FNMATCH1_PATHNAME))
            break;
    }
    return FNMATCH1_NOMATCH;
}

inline int match(const char *p, const char *s, const char *start, int flags)
{
    for (;;) {
        int c = (unsigned char)*p++;
        switch (c) {
        case '\0':
            if ((flags & FNMATCH1_LEADING_DIR) && *s == '/')
                return 0;
            return *s == '\0' ? 0 : FNMATCH1_NOMATCH;
        case '?':
            if (wildcard_refused(s, start, flags))
                return FNMATCH1_NOMATCH;
            s++;
            continue;
        case '*':
            return match_star(p - 1, s, start, flags);
        case '[': {
            if (wildcard_refused(s, start, flags))
                return FNMATCH1_NOMATCH;
            const char *after = p;
            bracket_result r = match_bracket(p, (unsigned char)*s, flags, &after);
            if (r == BRACKET_NOMATCH)
                return FNMATCH1_NOMATCH;
            if (r == BRACKET_MATCH) {
                p = after;
                s++;
                continue;
            }
            break;  // malformed: the "[" is an ordinary character
        }
        case '\\':
            if (escapes(flags)) {
                if (*p != '\0')
                    c = (unsigned char)*p++;
            }
            break;
        default:
            break;
        }
        if (*s == '\0' || fold(c, flags) != fold((unsigned char)*s, flags))
            return FNMATCH1_NOMATCH;
        s++;
    }
}

inline int fnmatch1(const char *pattern, const char *string, int flags)
{
    return match(pattern, string, string, flags);
}

}  // namespace fnmatch1_reference
