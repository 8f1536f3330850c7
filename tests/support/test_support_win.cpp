// The Windows forms of the child runner, the temporary directories and the
// time-zone guard.
//
// Windows has no fork.  A child is the test program itself, started again
// with a filter that selects the current test and with KT_CHILD_INDEX naming
// the run_in_child call to perform.  The child replays the test from its
// start: the calls before that one return the results its parent saw, and the
// temporary directories it creates are its parent's, in the same order; at
// the chosen call it points its standard streams at the capture files, runs
// the function and ends.  The parent keeps all of this for the current test in
// one history directory (KT_CHILD_HISTORY): "<k>.err", "<k>.out" and "<k>.rc"
// for the k-th call, and "tempdirs" with one path a line.
#include "test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace kt_test {

namespace {

struct TestHistory {
    const testing::TestInfo *test = nullptr;
    int calls = 0;     // run_in_child calls made so far in this test
    int tempdirs = 0;  // TempDirs created so far in this test
    std::vector<std::string> tempdir_paths;
    std::string dir;   // the parent's history directory, made on first need
};

TestHistory history;

std::string temp_base()
{
    char buffer[MAX_PATH + 1];
    DWORD n = GetTempPathA(sizeof buffer, buffer);
    if (n == 0 || n > MAX_PATH)
        return ".";
    std::string base(buffer, n);
    if (!base.empty() && (base.back() == '\\' || base.back() == '/'))
        base.pop_back();
    // Forward slashes, as the library writes paths and as the tests join them.
    for (char &c : base)
        if (c == '\\')
            c = '/';
    return base;
}

std::string make_unique_dir(const char *prefix)
{
    static unsigned counter;
    for (int attempt = 0; attempt < 1000; attempt++) {
        std::string path = temp_base() + "/" + prefix + std::to_string(GetCurrentProcessId()) +
                           "_" + std::to_string(++counter) + "_" + std::to_string(GetTickCount());
        if (CreateDirectoryA(path.c_str(), nullptr))
            return path;
    }
    throw std::runtime_error("cannot create a temporary directory");
}

const char *child_env(const char *name)
{
    const char *value = getenv(name);
    return value && *value ? value : nullptr;
}

bool is_child()
{
    return child_env("KT_CHILD_INDEX") != nullptr;
}

// Starts a new record whenever a new test is running.
void follow_current_test()
{
    const testing::TestInfo *test = testing::UnitTest::GetInstance()->current_test_info();
    if (test == history.test)
        return;
    if (!history.dir.empty() && !is_child()) {
        std::error_code ec;
        std::filesystem::remove_all(history.dir, ec);
    }
    history = TestHistory{};
    history.test = test;
    if (is_child())
        history.dir = child_env("KT_CHILD_HISTORY");
}

std::string history_file(int call, const char *what)
{
    return history.dir + "\\" + std::to_string(call) + "." + what;
}

std::string without_cr(const std::string &text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); i++)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            out += text[i];
    return out;
}

ChildResult recorded_result(int call)
{
    ChildResult result;
    unsigned long code = std::stoul(read_file(history_file(call, "rc")));
    // An unhandled exception ends a process with an NTSTATUS code, as a
    // signal ends a POSIX one.
    result.exited = code < 0xC0000000UL;
    result.status = result.exited ? (int)code : -1;
    result.err = without_cr(read_file(history_file(call, "err")));
    result.out = without_cr(read_file(history_file(call, "out")));
    return result;
}

HANDLE inheritable_file(const std::string &path, bool for_writing)
{
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE h = CreateFileA(path.c_str(), for_writing ? GENERIC_WRITE : GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           for_writing ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot open " + path);
    return h;
}

// Runs command_line in dir with the three standard streams on the given
// files and returns its exit code.
unsigned long run_process(std::string command_line, const char *dir, const std::string &in,
                          const std::string &out, const std::string &err)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inheritable_file(in, false);
    startup.hStdOutput = inheritable_file(out, true);
    startup.hStdError = inheritable_file(err, true);
    PROCESS_INFORMATION process{};
    fflush(nullptr);
    BOOL started = CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  dir, &startup, &process);
    CloseHandle(startup.hStdInput);
    CloseHandle(startup.hStdOutput);
    CloseHandle(startup.hStdError);
    if (!started)
        throw std::runtime_error("cannot start " + command_line);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code;
}

std::string own_program()
{
    char buffer[MAX_PATH + 1];
    DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    return std::string(buffer, n);
}

std::string current_test_filter()
{
    const testing::TestInfo *test = history.test;
    return std::string(test->test_suite_name()) + "." + test->name();
}

ChildResult spawn_child(int call)
{
    if (history.dir.empty())
        history.dir = make_unique_dir("kt_child_");
    {
        std::ofstream list(history.dir + "\\tempdirs", std::ios::trunc);
        for (const std::string &path : history.tempdir_paths)
            list << path << "\n";
    }
    SetEnvironmentVariableA("KT_CHILD_INDEX", std::to_string(call).c_str());
    SetEnvironmentVariableA("KT_CHILD_HISTORY", history.dir.c_str());
    std::string command = "\"" + own_program() + "\" --gtest_filter=" + current_test_filter();
    unsigned long code = run_process(command, nullptr, "NUL", history_file(call, "out.log"),
                                     history_file(call, "err.log"));
    SetEnvironmentVariableA("KT_CHILD_INDEX", nullptr);
    SetEnvironmentVariableA("KT_CHILD_HISTORY", nullptr);
    // A child that never reached its call writes no stream files.
    if (!file_exists(history_file(call, "err")))
        write_file(history_file(call, "err"), read_file(history_file(call, "err.log")));
    if (!file_exists(history_file(call, "out")))
        write_file(history_file(call, "out"), "");
    write_file(history_file(call, "rc"), std::to_string(code));
    return recorded_result(call);
}

// In the child: standard streams to the capture files, standard input empty,
// then fn, then the end of the process.
[[noreturn]] void perform(int call, const std::function<void()> &fn)
{
    fflush(nullptr);
    if (!freopen(history_file(call, "err").c_str(), "w", stderr) ||
        !freopen(history_file(call, "out").c_str(), "w", stdout) || !freopen("NUL", "r", stdin))
        _exit(125);
    setvbuf(stderr, nullptr, _IONBF, 0);
    fn();
    fflush(nullptr);
    _exit(0);
}

}  // namespace

ChildResult run_in_child(const std::function<void()> &fn)
{
    follow_current_test();
    int call = history.calls++;
    if (!is_child())
        return spawn_child(call);
    int wanted = atoi(child_env("KT_CHILD_INDEX"));
    if (call == wanted)
        perform(call, fn);
    return recorded_result(call);
}

ChildResult run_command(const std::string &dir, const std::string &command,
                        const std::string &stdin_text)
{
    std::string scratch = make_unique_dir("kt_command_");
    write_file(scratch + "\\in", stdin_text);
    ChildResult result;
    unsigned long code = run_process(command, dir.c_str(), scratch + "\\in", scratch + "\\out",
                                     scratch + "\\err");
    result.exited = code < 0xC0000000UL;
    result.status = result.exited ? (int)code : -1;
    result.err = without_cr(read_file(scratch + "\\err"));
    result.out = without_cr(read_file(scratch + "\\out"));
    std::error_code ec;
    std::filesystem::remove_all(scratch, ec);
    return result;
}

TempDir::TempDir()
{
    follow_current_test();
    int index = history.tempdirs++;
    if (is_child()) {
        std::ifstream list(history.dir + "\\tempdirs");
        for (int i = 0; i <= index && std::getline(list, path_); i++) {
        }
        borrowed_ = true;
        return;
    }
    path_ = make_unique_dir("kt_test_");
    history.tempdir_paths.push_back(path_);
}

TzGuard::TzGuard(const char *tz)
{
    if (const char *old = getenv("TZ"))
        old_ = old;
    _putenv_s("TZ", tz);
    _tzset();
}

TzGuard::~TzGuard()
{
    _putenv_s("TZ", old_ ? old_->c_str() : "");
    _tzset();
}

}  // namespace kt_test
