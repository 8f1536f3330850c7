// line_split: where to divide sorted line files so that two threads can
// merge them, one the lines below a dividing text and one the rest.

#include "compat.h"
#include "keltools.h"
#include "internal.h"
#include "sort_internal.h"

#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace keltools_internal {

long long read_at(int fd, char *buf, long long n, long long offset)
{
    if (lseek(fd, (off_t)offset, SEEK_SET) < 0) return -1;
    size_t got = read_in_full(fd, buf, (size_t)n);
    return got < (size_t)n && errno != 0 ? -1 : (long long)got;
}

namespace {

constexpr long long kWindow = 1 << 16;
constexpr size_t kDividerMax = 32;

/*
 * A sorted line file read through a window: every line ends with a line
 * feed, and lines are ordered as strcmp orders them, each up to its first
 * NUL.  A failed read makes the file look empty from there on.
 */
class SortedLines {
public:
    SortedLines(int fd, long long size) : fd_(fd), size_(size), buf_((size_t)kWindow) {}

    bool failed() const { return failed_; }

    // The offset of the first line that starts at or after pos; the size
    // when none does.
    long long line_start_from(long long pos)
    {
        if (pos <= 0) return 0;
        for (long long at = pos - 1; at < size_ && load(at); at = end_) {
            const char *lf = (const char *)memchr(&buf_[at - start_], '\n', (size_t)(end_ - at));
            if (lf != NULL) return start_ + (lf - buf_.data()) + 1;
        }
        return size_;
    }

    // The line at start up to its first NUL, cut after kDividerMax + 1
    // bytes: enough to order it against any divider.
    std::string key_at(long long start)
    {
        std::string key;
        for (long long at = start; at < size_ && key.size() <= kDividerMax && load(at); ++at) {
            char c = buf_[at - start_];
            if (c == '\n' || c == '\0') break;
            key.push_back(c);
        }
        return key;
    }

private:
    bool load(long long pos)
    {
        if (pos >= start_ && pos < end_) return true;
        long long got = failed_ ? -1 : read_at(fd_, buf_.data(), std::min(kWindow, size_ - pos), pos);
        if (got <= 0) {
            failed_ = true;
            return false;
        }
        start_ = pos;
        end_ = pos + got;
        return true;
    }

    int fd_;
    long long size_;
    std::vector<char> buf_;
    long long start_ = 0, end_ = 0;
    bool failed_ = false;
};

// A std::string orders its bytes as unsigned, as strcmp does.
bool below(const std::string &key, const std::string &divider)
{
    return key < divider;
}

}  // namespace

std::string pick_divider(const std::vector<std::string> &files, const std::vector<long long> &sizes)
{
    std::vector<std::pair<std::string, long long>> middles;
    long long total = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        int fd = sizes[i] > 0 ? open(files[i].c_str(), O_RDONLY | O_BINARY) : -1;
        if (fd < 0) continue;
        SortedLines lines(fd, sizes[i]);
        long long middle = lines.line_start_from(sizes[i] / 2);
        std::string key = lines.key_at(middle < sizes[i] ? middle : 0);
        close(fd);
        if (lines.failed()) continue;
        key.resize(std::min(key.size(), kDividerMax));
        middles.emplace_back(std::move(key), sizes[i]);
        total += sizes[i];
    }
    std::sort(middles.begin(), middles.end());
    long long below_it = 0;
    for (auto &[key, size] : middles) {
        below_it += size;
        if (2 * below_it >= total) return key;
    }
    return std::string();
}

long long first_line_not_below(const char *file, long long size, const std::string &divider)
{
    int fd = open(file, O_RDONLY | O_BINARY);
    if (fd < 0) return -1;
    SortedLines lines(fd, size);
    long long lo = 0, hi = size;  // the lines starting before lo are below; the answer is at most hi
    while (hi - lo > kWindow) {
        long long at = lines.line_start_from(lo + (hi - lo) / 2);
        if (at >= hi) break;
        if (below(lines.key_at(at), divider)) lo = at;
        else hi = at;
    }
    long long at = lo;
    while (at < hi && below(lines.key_at(at), divider)) at = lines.line_start_from(at + 1);
    close(fd);
    return lines.failed() ? -1 : std::min(at, hi);
}

}  // namespace keltools_internal
