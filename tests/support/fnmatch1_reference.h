// A second wildcard matcher, written apart from the library's, for tests,
// fuzzing and the benchmark.  It first cuts the pattern into tokens (one
// character, any character, a set, a run of stars) and then backtracks over
// them, one level of recursion per run of stars, as the library's matcher did
// before it was made linear.  Its time grows as the name's length to the power
// of the star groups, so give it only patterns with a few.
#pragma once

#include "keltools.h"

#include <cstring>
#include <vector>

namespace fnmatch1_reference {

struct token {
    enum kind_t { LITERAL, ANY, SET, NEVER, STARS, END } kind = LITERAL;
    unsigned char c = 0;          // LITERAL: the character
    bool slash_next = false;      // STARS: a "/" stands right after them
    bool negated = false;         // SET: "[!" or "[^"
    std::vector<signed char> lo, hi;  // SET: the ranges, case-folded
};

inline unsigned char folded(unsigned char c, int flags)
{
    if ((flags & FNMATCH1_CASEFOLD) && c >= 'A' && c <= 'Z')
        return (unsigned char)(c + ('a' - 'A'));
    return c;
}

// One character of a set at p, after a backslash when backslashes escape;
// false at the end of the pattern.
inline bool set_char(const char *&p, int flags, unsigned char *c)
{
    *c = (unsigned char)*p++;
    if (*c == '\\' && !(flags & FNMATCH1_NOESCAPE))
        *c = (unsigned char)*p++;
    return *c != '\0';
}

// Reads the set that starts after "[" at p into t.  Returns where the pattern
// goes on, or null when the pattern ends inside it (the "[" is then a plain
// character).  A "/" inside under FNMATCH1_PATHNAME makes a set nothing matches.
inline const char *read_set(const char *p, int flags, token *t)
{
    t->kind = token::SET;
    t->negated = *p == '!' || *p == '^';
    if (t->negated)
        p++;
    do {
        unsigned char from, to;
        if (!set_char(p, flags, &from))
            return nullptr;
        if (from == '/' && (flags & FNMATCH1_PATHNAME)) {
            t->kind = token::NEVER;
            return p;
        }
        to = from;
        if (p[0] == '-' && p[1] != '\0' && p[1] != ']') {
            p++;
            if (!set_char(p, flags, &to))
                return nullptr;
        }
        t->lo.push_back((signed char)folded(from, flags));
        t->hi.push_back((signed char)folded(to, flags));
    } while (*p != ']');
    return p + 1;
}

inline std::vector<token> tokens_of(const char *p, int flags)
{
    std::vector<token> out;
    while (*p != '\0') {
        token t;
        const char *after_set = *p == '[' ? read_set(p + 1, flags, &t) : nullptr;
        if (*p == '*') {
            while (*p == '*')
                p++;
            t.kind = token::STARS;
            t.slash_next = *p == '/';
        } else if (*p == '?') {
            t.kind = token::ANY;
            p++;
        } else if (after_set) {
            p = after_set;
        } else {
            t = token();  // also a "[" that the pattern ends inside
            if (*p == '\\' && !(flags & FNMATCH1_NOESCAPE) && p[1] != '\0')
                p++;
            t.c = (unsigned char)*p++;
        }
        out.push_back(t);
    }
    out.push_back(token());
    out.back().kind = token::END;
    return out;
}

inline bool in_set(const token &t, unsigned char c, int flags)
{
    signed char x = (signed char)folded(c, flags);
    bool inside = false;
    for (size_t i = 0; i < t.lo.size(); i++)
        inside = inside || (t.lo[i] <= x && x <= t.hi[i]);
    return inside != t.negated;
}

// A period that only a literal period may take: at the start, or after a
// "/" under FNMATCH1_PATHNAME.
inline bool hidden_period(const char *s, const char *start, int flags)
{
    if (!(flags & FNMATCH1_PERIOD) || *s != '.')
        return false;
    return s == start || ((flags & FNMATCH1_PATHNAME) && s[-1] == '/');
}

inline bool matches_from(const std::vector<token> &t, size_t i, const char *s, const char *start, int flags);

inline bool stars_match(const std::vector<token> &t, size_t i, const char *s, const char *start, int flags)
{
    bool pathname = flags & FNMATCH1_PATHNAME;
    if (hidden_period(s, start, flags))
        return false;
    if (t[i + 1].kind == token::END)
        return !pathname || (flags & FNMATCH1_LEADING_DIR) || !strchr(s, '/');
    if (t[i].slash_next && pathname) {
        const char *slash = strchr(s, '/');
        return slash && matches_from(t, i + 1, slash, start, flags);
    }
    for (; *s != '\0'; s++) {
        if (matches_from(t, i + 1, s, start, flags & ~FNMATCH1_PERIOD))
            return true;
        if (*s == '/' && pathname)
            return false;
    }
    return false;
}

inline bool matches_from(const std::vector<token> &t, size_t i, const char *s, const char *start, int flags)
{
    for (;; i++, s++) {
        const token &k = t[i];
        if (k.kind == token::END)
            return *s == '\0' || ((flags & FNMATCH1_LEADING_DIR) && *s == '/');
        if (k.kind == token::STARS)
            return stars_match(t, i, s, start, flags);
        if (k.kind == token::LITERAL) {
            if (*s == '\0' || folded((unsigned char)*s, flags) != folded(k.c, flags))
                return false;
            continue;
        }
        // "?" and sets take any one character but the end, a "/" under
        // FNMATCH1_PATHNAME and a hidden period.
        if (*s == '\0' || (*s == '/' && (flags & FNMATCH1_PATHNAME)) || hidden_period(s, start, flags))
            return false;
        if (k.kind == token::NEVER || (k.kind == token::SET && !in_set(k, (unsigned char)*s, flags)))
            return false;
    }
}

inline int fnmatch1(const char *pattern, const char *string, int flags)
{
    std::vector<token> t = tokens_of(pattern, flags);
    return matches_from(t, 0, string, string, flags) ? 0 : FNMATCH1_NOMATCH;
}

}  // namespace fnmatch1_reference
