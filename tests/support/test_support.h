// Helpers shared by the test programs: child processes, temporary
// directories and whole-file reads and writes.
#pragma once

#include <fcntl.h>

#include <functional>
#include <optional>
#include <string>

// Descriptors of the tests open their files untranslated, as the library's do.
#ifndef O_BINARY
#define O_BINARY 0
#endif

namespace kt_test {

// What a function run in a child process left behind.
struct ChildResult {
    bool exited = false;  // ended through exit() or a return, not a signal
    int status = -1;      // its exit status when exited
    std::string err;      // everything it wrote to standard error
    std::string out;      // everything it wrote to standard output
};

// Runs fn in a forked child with standard error and standard output captured
// and standard input at end of file; the child exits with 0 when fn returns.
// Windows has no fork: the test program runs again, filtered to the current
// test, and replays it up to this call (see test_support_win.cpp); the
// captured texts come with CR LF line ends turned into LF there.
ChildResult run_in_child(const std::function<void()> &fn);

// Runs a shell command line in dir, standard input from stdin_text,
// capturing standard error and standard output (line ends as above).
ChildResult run_command(const std::string &dir, const std::string &command,
                        const std::string &stdin_text = "");

// A fresh directory under $TMPDIR (or /tmp), removed with its contents when
// the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
    bool borrowed_ = false;  // a Windows child's view of its parent's directory
};

// Changes the working directory for the object's lifetime.
class ChdirGuard {
public:
    explicit ChdirGuard(const std::string &dir);
    ~ChdirGuard();
    ChdirGuard(const ChdirGuard &) = delete;
    ChdirGuard &operator=(const ChdirGuard &) = delete;

private:
    std::string old_;
};

// Sets the time zone TZ for the object's lifetime, then restores the old one.
class TzGuard {
public:
    explicit TzGuard(const char *tz);
    ~TzGuard();
    TzGuard(const TzGuard &) = delete;
    TzGuard &operator=(const TzGuard &) = delete;

private:
    std::optional<std::string> old_;
};

std::string read_file(const std::string &path);
// A file written through a text-mode stream, with LF line ends: on Windows
// every "\n" must have been stored as CR LF (the test fails otherwise).
std::string read_text_file(const std::string &path);
void write_file(const std::string &path, const std::string &bytes);
bool file_exists(const std::string &path);

// UTF-8 text to Windows-1251, for ASCII and the Russian alphabet (the only
// letters the program's pages and trade files use).
std::string cp1251(const std::string &utf8);

// The system's text for err in parentheses, as messages end with it.
std::string reason(int err);

// Mount helpers, for a child process only: the mounts live in a private
// mount namespace and vanish with the child.  Each returns false when the
// system does not allow it.
bool private_mounts();
// A fresh tmpfs of the given size ("16k") at dir.
bool mount_small_tmpfs(const std::string &dir, const char *size);
// dir, with what it holds, becomes read-only.
bool make_read_only(const std::string &dir);

// Exit status of a child that could not set up its mounts.
constexpr int kNoMounts = 77;

// Runs fn in a child whose mounts were prepared by setup; a child that could
// not prepare them exits with kNoMounts.
ChildResult run_with_mounts(const std::function<bool()> &setup, const std::function<void()> &fn);

}  // namespace kt_test
