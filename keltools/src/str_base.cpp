// str_base: the string toolkit: splitting, joining, copying, trimming,
// replacing, comparing and searching.

#include "keltools.h"
#include "internal.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

using keltools_internal::in_set;
using keltools_internal::is_space;

/* ---- case-insensitive prefix comparison ---- */

int strnicmp1(const char *s1, const char *s2, int n)
{
    for (int i = 0; i < n; i++) {
        int a = tolower((unsigned char)s1[i]);
        int b = tolower((unsigned char)s2[i]);
        if (a != b || a == '\0')
            return a - b;
    }
    return 0;
}

/* ---- string toolkit ---- */

/*
 * Word splitting.  The splitters cut the caller's string in place, writing a
 * NUL over the separator that ends each word, and hand back an array of
 * pointers to the pieces.
 */

namespace {

// Whether c separates words in the given class (see str_words).
bool is_word_separator(unsigned char c, int sep_class)
{
    switch (sep_class) {
    case 1: return is_space(c);
    case 3: return is_space(c) || c == '*' || c == '?';
    case 4: return c == ',';
    case 5: return c == '.';
    case 6: return c == ';';
    case 7: return c == '|';
    case 8: return !isalpha(c);
    case 9: return c == ':';
    default: return !isalnum(c);
    }
}

// A growing array of string pointers on the checked heap.
struct word_list {
    char **items;
    int count;
    int room;
};

word_list word_list_new()
{
    return word_list{(char **)xmalloc(16 * sizeof(char *)), 0, 16};
}

void word_list_add(word_list &list, char *word)
{
    if (list.count == list.room) {
        list.room *= 2;
        list.items = (char **)xrealloc(list.items, (size_t)list.room * sizeof(char *));
    }
    list.items[list.count++] = word;
}

}  // namespace

int str_words(char *s, char ***L, int sep_class)
{
    if (sep_class == 0) {
        *L = (char **)xmalloc(sizeof(char *));
        (*L)[0] = s;
        return 1;
    }
    word_list words = word_list_new();
    char *p = s;
    for (;;) {
        while (*p && is_word_separator((unsigned char)*p, sep_class))
            p++;
        if (!*p)
            break;
        word_list_add(words, p);
        while (*p && !is_word_separator((unsigned char)*p, sep_class))
            p++;
        if (!*p)
            break;
        *p++ = '\0';
    }
    if (words.count == 0) {
        free(words.items);
        *L = nullptr;
        return 0;
    }
    *L = (char **)xrealloc(words.items, (size_t)words.count * sizeof(char *));
    return words.count;
}

int str_split(char *s, char ***L, char sep)
{
    word_list fields = word_list_new();
    char *p = s;
    for (;;) {
        word_list_add(fields, p);
        char *end = sep ? strchr(p, sep) : nullptr;
        if (!end)
            break;
        *end = '\0';
        p = end + 1;
    }
    *L = fields.items;
    return fields.count;
}

int str_parseline(char *s, char ***L, char sep)
{
    int room = 16, count = 0;
    char **fields = (char **)malloc((size_t)room * sizeof(char *));
    char *p = s;
    bool failed = fields == nullptr;
    while (!failed) {
        char *end = sep ? strchr(p, sep) : nullptr;
        if (end)
            *end = '\0';
        if (count == room) {
            char **bigger = (char **)realloc(fields, (size_t)room * 2 * sizeof(char *));
            if (!bigger) {
                failed = true;
                break;
            }
            fields = bigger;
            room *= 2;
        }
        if (!(fields[count] = strdup(p))) {
            failed = true;
            break;
        }
        count++;
        if (!end)
            break;
        p = end + 1;
    }
    if (failed) {
        // Out of memory: give back what was built rather than a partial list.
        for (int i = 0; i < count; i++)
            free(fields[i]);
        free(fields);
        *L = nullptr;
        return -1;
    }
    *L = fields;
    return count;
}

/*
 * Joining and path composition.  Results are fresh strings from malloc.
 */

namespace {

const char *or_empty(const char *s)
{
    return s ? s : "";
}

// Appends the path part src to the path in dest with exactly one '/' between
// them, writing src's backslashes as '/'.  dest needs room for src plus one.
void append_path_part(char *dest, const char *src)
{
    size_t n = strlen(dest);
    bool src_rooted = src[0] == '/' || src[0] == '\\';
    if (n > 0) {
        if (src_rooted && dest[n - 1] == '/')
            n--;
        else if (!src_rooted && dest[n - 1] != '/')
            dest[n++] = '/';
    }
    for (; *src; src++)
        dest[n++] = *src == '\\' ? '/' : *src;
    dest[n] = '\0';
}

}  // namespace

char *str_translate(char *s, char in, char out)
{
    for (char *p = s; *p; p++)
        if (*p == in)
            *p = out;
    return s;
}

char *str_join(const char *s1, const char *s2)
{
    s1 = or_empty(s1);
    s2 = or_empty(s2);
    size_t l1 = strlen(s1), l2 = strlen(s2);
    char *r = (char *)malloc(l1 + l2 + 1);
    if (!r)
        return nullptr;
    memcpy(r, s1, l1);
    memcpy(r + l1, s2, l2 + 1);
    return r;
}

char *str_append(char *s1, const char *s2)
{
    char *r = str_join(s1, s2);
    if (r)
        free(s1);
    return r;
}

char *str_cats(char *dest, char *src)
{
    str_translate(src, '\\', '/');
    append_path_part(dest, src);
    return dest;
}

char *str_sjoin(const char *s1, const char *s2)
{
    s1 = or_empty(s1);
    s2 = or_empty(s2);
    char *r = (char *)malloc(strlen(s1) + strlen(s2) + 2);
    if (!r)
        return nullptr;
    strcpy(r, s1);
    append_path_part(r, s2);
    return r;
}

namespace {

char *join_with(char **L, int n, const char *sep, size_t sep_len)
{
    size_t total = 1;
    for (int i = 0; i < n; i++)
        total += strlen(or_empty(L[i])) + (i > 0 ? sep_len : 0);
    char *r = (char *)malloc(total);
    if (!r)
        return nullptr;
    char *p = r;
    for (int i = 0; i < n; i++) {
        if (i > 0) {
            memcpy(p, sep, sep_len);
            p += sep_len;
        }
        size_t len = strlen(or_empty(L[i]));
        memcpy(p, or_empty(L[i]), len);
        p += len;
    }
    *p = '\0';
    return r;
}

}  // namespace

char *str_mjoin(char **L, int n, char sep)
{
    return join_with(L, n, &sep, 1);
}

char *str_msjoin(char **L, int n, const char *sep)
{
    sep = or_empty(sep);
    return join_with(L, n, sep, strlen(sep));
}

/*
 * In-place editing.  Nothing here checks the room in the caller's buffer:
 * insertions and longer replacements rely on the caller.
 */

char *str_copy(char *dest, const char *src, int maxlength)
{
    if (maxlength <= 0)
        return dest;
    strncpy(dest, src, (size_t)maxlength);
    dest[maxlength - 1] = '\0';
    return dest;
}

char *str_copy_worker(char *dest, const char *src, int n)
{
    return str_copy(dest, src, n);
}

char *str_strdup1(const char *s, int N)
{
    size_t len = strlen(s);
    char *r = (char *)malloc(len + 1 + (size_t)(N > 0 ? N : 0));
    if (r)
        memcpy(r, s, len + 1);
    return r;
}

char *str_insert(char *s, char c, int n)
{
    if (n < 0)
        return s;
    size_t len = strlen(s);
    if ((size_t)n > len)
        return s;
    memmove(s + n + 1, s + n, len - (size_t)n + 1);
    s[n] = c;
    return s;
}

char *str_strip(char *s, const char *stray)
{
    size_t len = strlen(s);
    while (len > 0 && in_set(s[len - 1], stray))
        s[--len] = '\0';
    return s;
}

char *str_strip2(char *s, const char *stray)
{
    str_strip(s, stray);
    size_t lead = 0;
    while (in_set(s[lead], stray))
        lead++;
    if (lead > 0)
        memmove(s, s + lead, strlen(s + lead) + 1);
    return s;
}

int str_compress_spaces(char *s)
{
    size_t out = 0;
    bool pending_blank = false;
    for (const char *p = s; *p; p++) {
        if (is_space((unsigned char)*p)) {
            pending_blank = out > 0;
            continue;
        }
        if (pending_blank)
            s[out++] = ' ';
        pending_blank = false;
        s[out++] = *p;
    }
    s[out] = '\0';
    return (int)out;
}

int remove_whitespace(char *s)
{
    return str_compress_spaces(s);
}

char *remove_dots(char *s)
{
    enum { OTHER, AFTER_DOT, AFTER_DOT_BLANK } state = OTHER;
    size_t out = 0;
    for (const char *p = s; *p; p++) {
        if (*p == ' ') {
            s[out++] = ' ';
            state = state == AFTER_DOT ? AFTER_DOT_BLANK : OTHER;
        } else if (*p != '.') {
            s[out++] = *p;
            state = OTHER;
        } else if (state == AFTER_DOT_BLANK) {
            out--;  // the blank between two dots goes, this dot too
            state = AFTER_DOT;
        } else {
            s[out++] = '.';
            state = AFTER_DOT;
        }
    }
    s[out] = '\0';
    return s;
}

namespace {

// Growing replacement: each s1 found is opened up to the length of s2.  With
// restart the search begins again at the start of s after every replacement.
int replace_growing(char *s, const char *s1, const char *s2, bool restart)
{
    size_t l1 = strlen(s1), l2 = strlen(s2);
    int count = 0;
    char *from = s;
    while (char *hit = strstr(from, s1)) {
        memmove(hit + l2, hit + l1, strlen(hit + l1) + 1);
        memcpy(hit, s2, l2);
        count++;
        from = restart ? s : hit + l2;
    }
    return count;
}

// One left-to-right rebuild for an s2 no longer than s1; the text only shrinks,
// so it is written over itself.
int replace_pass(char *s, const char *s1, const char *s2)
{
    size_t l1 = strlen(s1), l2 = strlen(s2);
    int count = 0;
    char *out = s;
    const char *in = s;
    while (*in) {
        if (strncmp(in, s1, l1) == 0) {
            memmove(out, s2, l2);
            out += l2;
            in += l1;
            count++;
        } else {
            *out++ = *in++;
        }
    }
    *out = '\0';
    return count;
}

}  // namespace

int str_replace(char *s, const char *s1, const char *s2, int recursive)
{
    if (!*s1)
        return 0;  // an empty pattern matches everywhere without advancing
    // Repeating can never end when s2 brings back s1: one pass then.
    bool repeat = recursive && !strstr(s2, s1);
    if (strlen(s2) > strlen(s1))
        return replace_growing(s, s1, s2, repeat);
    int total = 0, made;
    do {
        made = replace_pass(s, s1, s2);
        total += made;
    } while (repeat && made > 0);
    return total;
}

char *str_cutoff(char *s, int limit)
{
    if (limit < 3 || strlen(s) < (size_t)limit)
        return nullptr;
    int cut = limit - 3;
    for (int i = limit - 3; i > 0; i--) {
        if (!isalnum((unsigned char)s[i])) {
            cut = i;
            break;
        }
    }
    memcpy(s + cut, "...", 4);
    return s + cut;
}

int str_refine_buffer(char *buf)
{
    size_t out = 0;
    const char *in = buf;
    while (*in) {
        if (*in == '\r' || *in == '\n') {
            bool pair = (in[0] == '\r' && in[1] == '\n') || (in[0] == '\n' && in[1] == '\r');
            buf[out++] = '\0';
            in += pair ? 2 : 1;
        } else {
            buf[out++] = *in++;
        }
    }
    buf[out++] = '\0';
    return (int)out;
}

char *str_sep1(char **sp, char d)
{
    char *p = *sp;
    if (!p)
        return nullptr;
    while (d && *p == d)
        p++;
    if (!*p) {
        *sp = p;
        return nullptr;
    }
    char *token = p;
    char *end = d ? strchr(p, d) : nullptr;
    if (end) {
        *end = '\0';
        *sp = end + 1;
    } else {
        *sp = p + strlen(p);  // the last token ends the text
    }
    return token;
}

/*
 * Comparison and search.  Two case foldings live here: tolower1, which folds
 * only the ASCII letters whatever the locale, and the runtime's tolower.
 */

int str_headcmp(const char *s, const char *head)
{
    size_t head_len = strlen(head);
    if (head_len > strlen(s))
        return strcmp(s, head);
    return strncmp(s, head, head_len);
}

int stricmp1(const char *s1, const char *s2)
{
    for (;; s1++, s2++) {
        int a = tolower((unsigned char)*s1);
        int b = tolower((unsigned char)*s2);
        if (a != b || a == '\0')
            return a - b;
    }
}

int str_imatch(const char *s1, const char *s2)
{
    int n = 0;
    while (s1[n] && s2[n] && tolower((unsigned char)s1[n]) == tolower((unsigned char)s2[n]))
        n++;
    return n;
}

int str_cmpnull(const char *s1, const char *s2)
{
    if (!s1)
        return s2 ? -1 : 0;
    if (!s2)
        return 1;
    return strcmp(s1, s2);
}

char *str_index1(const char *haystack, char needle)
{
    if (!needle || !*haystack)
        return nullptr;
    if (haystack[0] == needle)
        return (char *)haystack;
    bool quoted = false;
    for (const char *p = haystack + 1; *p; p++) {
        bool escaped = p[-1] == '\\';
        if (*p == needle && !quoted && !escaped)
            return (char *)p;
        if (*p == '"' && !escaped)
            quoted = !quoted;
    }
    return nullptr;
}

int tolower1(int c)
{
    return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
}

char *str_lower(char *s)
{
    for (char *p = s; *p; p++)
        *p = (char)tolower1((unsigned char)*p);
    return s;
}

namespace {

// Searches folded copies of both strings; maps the hit back into haystack.
char *search_folded(const char *haystack, const char *needle, int (*fold)(int))
{
    char *h = strdup(haystack);
    char *n = strdup(needle);
    char *result = nullptr;
    if (h && n) {
        for (char *p = h; *p; p++)
            *p = (char)fold((unsigned char)*p);
        for (char *p = n; *p; p++)
            *p = (char)fold((unsigned char)*p);
        if (char *hit = strstr(h, n))
            result = (char *)haystack + (hit - h);
    }
    free(h);
    free(n);
    return result;
}

int runtime_tolower(int c)
{
    return tolower(c);
}

}  // namespace

char *str_stristr(const char *haystack, const char *needle)
{
    return search_folded(haystack, needle, tolower1);
}

char *str_casestr(const char *str, const char *substr)
{
    return search_folded(str, substr, runtime_tolower);
}

int str_numchars(const char *s, char c)
{
    int n = 0;
    for (; *s; s++)
        if (*s == c)
            n++;
    return n;
}

int str_numstr(const char *s, const char *pattern)
{
    size_t len = strlen(pattern);
    if (len == 0)
        return 0;
    int n = 0;
    for (const char *p = s; (p = strstr(p, pattern)) != nullptr; p += len)
        n++;
    return n;
}

/*
 * Small helpers of the short-name builder.
 */

char *str_lastspn(const char *s, const char *accept)
{
    for (size_t i = strlen(s); i > 0; i--)
        if (in_set(s[i - 1], accept))
            return (char *)s + i - 1;
    return nullptr;
}

char *str_delete(char *s, char *p)
{
    if (p < s || p >= s + strlen(s))
        return s;
    memmove(p, p + 1, strlen(p + 1) + 1);
    return s;
}

int str_tailcmp(const char *s, const char *tail)
{
    size_t ls = strlen(s), lt = strlen(tail);
    if (lt > ls)
        return 1;
    return strcmp(s + ls - lt, tail);
}

int str_tailcmpi(const char *s, const char *tail)
{
    size_t ls = strlen(s), lt = strlen(tail);
    if (lt == 0 || lt > ls)
        return 1;
    return stricmp1(s + ls - lt, tail);
}
