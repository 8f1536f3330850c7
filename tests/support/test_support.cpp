#include "test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#ifndef _WIN32
#include <sys/wait.h>
#endif
#ifdef __linux__
#include <sched.h>
#include <sys/mount.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kt_test {

#ifndef _WIN32
namespace {

// A temporary file that receives one of the child's streams.
struct CaptureFile {
    std::string path;
    int fd;
    CaptureFile()
    {
        const char *tmp = getenv("TMPDIR");
        path = std::string(tmp && *tmp ? tmp : "/tmp") + "/kt_capture_XXXXXX";
        fd = mkstemp(path.data());
        if (fd < 0)
            throw std::runtime_error("mkstemp failed");
    }
    ~CaptureFile()
    {
        close(fd);
        unlink(path.c_str());
    }
    std::string contents() const { return read_file(path); }
};

ChildResult wait_for(pid_t pid, const CaptureFile &err, const CaptureFile &out)
{
    ChildResult result;
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0) {
    }
    result.exited = WIFEXITED(wstatus);
    result.status = result.exited ? WEXITSTATUS(wstatus) : -1;
    result.err = err.contents();
    result.out = out.contents();
    return result;
}

void redirect_child_streams(const CaptureFile &err, const CaptureFile &out, int in_fd)
{
    fflush(nullptr);
    dup2(err.fd, STDERR_FILENO);
    dup2(out.fd, STDOUT_FILENO);
    dup2(in_fd, STDIN_FILENO);
}

}  // namespace

ChildResult run_in_child(const std::function<void()> &fn)
{
    CaptureFile err, out;
    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        int null_fd = open("/dev/null", O_RDONLY);
        redirect_child_streams(err, out, null_fd);
        fn();
        fflush(nullptr);
        _exit(0);
    }
    return wait_for(pid, err, out);
}

ChildResult run_command(const std::string &dir, const std::string &command,
                        const std::string &stdin_text)
{
    CaptureFile err, out, in;
    if (write(in.fd, stdin_text.data(), stdin_text.size()) != (ssize_t)stdin_text.size())
        throw std::runtime_error("cannot prepare standard input");
    lseek(in.fd, 0, SEEK_SET);
    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        redirect_child_streams(err, out, in.fd);
        if (chdir(dir.c_str()) != 0)
            _exit(127);
        execl("/bin/sh", "sh", "-c", command.c_str(), (char *)nullptr);
        _exit(127);
    }
    return wait_for(pid, err, out);
}

TempDir::TempDir()
{
    const char *tmp = getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/kt_test_XXXXXX";
    if (!mkdtemp(templ.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

#endif  // the Windows forms of the above are in test_support_win.cpp

TempDir::~TempDir()
{
    if (borrowed_)
        return;
    std::error_code ec;
    // Make everything removable again, whatever a test did to permissions.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

ChdirGuard::ChdirGuard(const std::string &dir) : old_(std::filesystem::current_path().string())
{
    std::filesystem::current_path(dir);
}

ChdirGuard::~ChdirGuard()
{
    std::error_code ec;
    std::filesystem::current_path(old_, ec);
}

#ifndef _WIN32
TzGuard::TzGuard(const char *tz)
{
    if (const char *old = getenv("TZ"))
        old_ = old;
    setenv("TZ", tz, 1);
    tzset();
}

TzGuard::~TzGuard()
{
    if (old_)
        setenv("TZ", old_->c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

#endif

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string read_text_file(const std::string &path)
{
    std::string bytes = read_file(path);
#ifdef _WIN32
    std::string text;
    for (size_t i = 0; i < bytes.size(); i++) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            continue;
        if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r'))
            ADD_FAILURE() << path << ": a line end without CR at byte " << i;
        text += bytes[i];
    }
    return text;
#else
    return bytes;
#endif
}

void write_file(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), (std::streamsize)bytes.size());
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

bool file_exists(const std::string &path)
{
    return access(path.c_str(), F_OK) == 0;
}

// Two-byte UTF-8 sequences of U+0410..U+044F map to 0xC0..0xFF; Ё and ё
// stand apart.
std::string cp1251(const std::string &utf8)
{
    std::string out;
    for (size_t i = 0; i < utf8.size(); i++) {
        unsigned char c = (unsigned char)utf8[i];
        if (c < 0x80) {
            out += (char)c;
            continue;
        }
        if (i + 1 == utf8.size())
            throw std::runtime_error("cp1251: cut UTF-8 sequence");
        unsigned code = ((c & 0x1fu) << 6) | ((unsigned char)utf8[++i] & 0x3fu);
        if (code == 0x401)
            out += '\xa8';
        else if (code == 0x451)
            out += '\xb8';
        else if (code >= 0x410 && code <= 0x44f)
            out += (char)(0xc0 + (code - 0x410));
        else
            throw std::runtime_error("cp1251: no Russian letter");
    }
    return out;
}

std::string reason(int err)
{
    return std::string("(") + strerror(err) + ")";
}

#ifdef __linux__
bool private_mounts()
{
    return unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

bool mount_small_tmpfs(const std::string &dir, const char *size)
{
    std::string options = std::string("size=") + size;
    return private_mounts() && mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

bool make_read_only(const std::string &dir)
{
    return private_mounts() && mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
           mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
}
#else
// Mount namespaces are Linux's own: elsewhere the tests that need them skip.
bool private_mounts() { return false; }
bool mount_small_tmpfs(const std::string &, const char *) { return false; }
bool make_read_only(const std::string &) { return false; }
#endif

ChildResult run_with_mounts(const std::function<bool()> &setup, const std::function<void()> &fn)
{
    return run_in_child([&] {
        if (!setup())
            _exit(kNoMounts);
        fn();
    });
}

}  // namespace kt_test
