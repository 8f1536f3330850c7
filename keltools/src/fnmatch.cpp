// fnmatch: shell-style wildcard matching.
//
// Every element of the pattern but "*" takes exactly one character of the
// string: "?" any one, a bracket expression one of a set, anything else
// itself.  So the pattern is a head of such elements, then star-separated
// segments, then the tail, and it is matched from left to right without
// recursion: each segment is placed at its first position after the star
// before it.  When something later fails, only the last star takes one more
// character and the rest starts over from there; an earlier star never needs
// to: a later place for an earlier segment leaves the last star less string
// to choose from, never more.  So a match costs at most the pattern's length
// times the string's, whatever the number of stars.
//
// With FNMATCH1_PATHNAME a star stops at "/", and "*/" goes straight to the
// next "/" of the string.  A "/" in the string is then taken only by a "/"
// of the pattern, so the number of them the pattern has taken at any element
// is fixed: a star that wants no "/" after it, or "*/" that finds none, fails
// the whole match.  The leading-period rule holds up to the first star that
// is followed by more than "/" or the end; after it, periods are ordinary.
// Characters are single bytes; case folding touches only A-Z.  A bracket
// expression that the pattern ends inside is no expression at all: its "["
// is then an ordinary character.

#include "keltools.h"

#include <cstring>

/* ---- wildcard matching ---- */

namespace {

enum bracket_result { BRACKET_MATCH, BRACKET_NOMATCH, BRACKET_MALFORMED };

int fold(int c, int flags)
{
    return (flags & FNMATCH1_CASEFOLD) && c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
}

bool escapes(int flags)
{
    return !(flags & FNMATCH1_NOESCAPE);
}

// A leading period that only a literal period may match.
bool period_rule(const char *s, const char *start, int flags)
{
    return (flags & FNMATCH1_PERIOD) && *s == '.' &&
           (s == start || ((flags & FNMATCH1_PATHNAME) && s[-1] == '/'));
}

// Whether "?", "*" or "[" may not take the character at s at all.
bool wildcard_refused(const char *s, const char *start, int flags)
{
    return *s == '\0' || (*s == '/' && (flags & FNMATCH1_PATHNAME)) || period_rule(s, start, flags);
}

// Evaluates the bracket expression that starts at p (just after "[") against
// test; on a verdict *end is set just past its closing "]".
bracket_result match_bracket(const char *p, int test, int flags, const char **end)
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

// Matches the element at *p, which takes one character, against the
// character at s; on a match *p moves past the element.
bool match_one(const char **p, const char *s, const char *start, int flags)
{
    const char *q = *p;
    int c = (unsigned char)*q++;
    if (c == '?' || c == '[') {
        if (wildcard_refused(s, start, flags))
            return false;
        if (c == '?') {
            *p = q;
            return true;
        }
        bracket_result r = match_bracket(q, (unsigned char)*s, flags, p);
        if (r != BRACKET_MALFORMED)
            return r == BRACKET_MATCH;
        // malformed: the "[" is an ordinary character
    } else if (c == '\\' && escapes(flags) && *q != '\0') {
        c = (unsigned char)*q++;
    }
    if (*s == '\0' || fold(c, flags) != fold((unsigned char)*s, flags))
        return false;
    *p = q;
    return true;
}

enum step_result {
    STEP_ON,       // the element matched: go on with the next
    STEP_FAILED,   // no match here: the last star may take one more character
    STEP_NEVER,    // no match here, nor after any star takes more
    STEP_MATCHED,  // the whole string is matched
};

struct matcher {
    const char *start;  // the string as passed, for the leading-period rule
    int flags;
    const char *p, *s;
    const char *star_p;  // the pattern after the last star, or null
    const char *star_s;  // where the rest after that star was last tried
};

step_result star_step(matcher &m)
{
    const char *q = m.p;
    while (*q == '*')
        q++;
    bool pathname = m.flags & FNMATCH1_PATHNAME;
    if (period_rule(m.s, m.start, m.flags))
        return STEP_NEVER;
    if (*q == '\0') {
        if (!pathname || (m.flags & FNMATCH1_LEADING_DIR) || !strchr(m.s, '/'))
            return STEP_MATCHED;
        return STEP_NEVER;
    }
    if (*q == '/' && pathname) {
        m.s = strchr(m.s, '/');
        m.p = q;
        return m.s ? STEP_ON : STEP_NEVER;
    }
    m.flags &= ~FNMATCH1_PERIOD;
    m.p = m.star_p = q;
    m.star_s = m.s;
    return STEP_ON;
}

step_result step(matcher &m)
{
    if (*m.p == '*')
        return star_step(m);
    if (*m.p == '\0') {
        bool at_end = *m.s == '\0' || ((m.flags & FNMATCH1_LEADING_DIR) && *m.s == '/');
        return at_end ? STEP_MATCHED : STEP_FAILED;
    }
    if (!match_one(&m.p, m.s, m.start, m.flags))
        return STEP_FAILED;
    m.s++;
    return STEP_ON;
}

// The last star takes one more character and the rest of the pattern starts
// over after it; false when there is no star or it may take no more.
bool retry_last_star(matcher &m)
{
    if (!m.star_p || *m.star_s == '\0' || (*m.star_s == '/' && (m.flags & FNMATCH1_PATHNAME)))
        return false;
    m.p = m.star_p;
    m.s = ++m.star_s;
    return true;
}

}  // namespace

int fnmatch1(const char *pattern, const char *string, int flags)
{
    matcher m = {string, flags, pattern, string, nullptr, nullptr};
    for (;;) {
        step_result r = step(m);
        if (r == STEP_MATCHED)
            return 0;
        if (r == STEP_NEVER || (r == STEP_FAILED && !retry_last_star(m)))
            return FNMATCH1_NOMATCH;
    }
}
