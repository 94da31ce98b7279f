#include "tests/support/ChildProcess.h"

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tolvane::test {

namespace {
std::string ReadToEnd(FILE* file) {
    std::string all;
    char chunk[4096];
    for (size_t n; file && (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
        all.append(chunk, n);
    return all;
}
} // namespace

bool Child::Start(const std::vector<std::string>& args, bool captureStderr) {
    int out[2], err[2] = {-1, -1};
    if (::pipe(out) != 0) return false;
    if (captureStderr && ::pipe(err) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    if (captureStderr) {
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        posix_spawn_file_actions_addclose(&actions, err[0]);
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    out_ = ::fdopen(out[0], "r");
    if (captureStderr) {
        ::close(err[1]);
        err_ = ::fdopen(err[0], "r");
    }
    return rc == 0;
}

std::string Child::ReadLine() {
    char line[4096] = {};
    if (!std::fgets(line, sizeof line, out_)) return {};
    std::string text = line;
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

std::string Child::ReadAll() {
    return ReadToEnd(out_);
}

std::string Child::ReadAllErrors() {
    return ReadToEnd(err_);
}

void Child::Signal(int signal) {
    if (pid_ > 0) ::kill(pid_, signal); // never -1: that would reach every process
}

int Child::Wait(int ms) {
    if (pid_ <= 0) return -1; // none started, or already reaped
    for (int waited = 0; waited < ms; waited += 10) {
        int status;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        ::usleep(10000);
    }
    return -1;
}

Child::~Child() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (out_) std::fclose(out_);
    if (err_) std::fclose(err_);
}

int RunProgram(const std::vector<std::string>& args, std::string* output, std::string* errors) {
    Child child;
    if (!child.Start(args, errors != nullptr)) return -1;
    const std::string all = child.ReadAll();
    if (output) *output = all;
    if (errors) *errors = child.ReadAllErrors();
    return child.Wait();
}

} // namespace tolvane::test
