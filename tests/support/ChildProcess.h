#pragma once
// A program under test as a child process, its standard output (and optionally its standard
// error) on pipes.
#include <cstdio>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tolvane::test {

class Child {
  public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child();

    // Without captureStderr its messages go to /dev/null (they are checked by exit status).
    bool Start(const std::vector<std::string>& args, bool captureStderr = false);
    std::string ReadLine();
    std::string ReadAll();
    // Standard error to its end (after the program ended).
    std::string ReadAllErrors();
    void Signal(int signal);
    // Exit status (128 + signal when killed), or -1 when it did not end within the time.
    int Wait(int ms = 10000);

  private:
    pid_t pid_ = -1;
    FILE* out_ = nullptr;
    FILE* err_ = nullptr;
};

// Runs a program to its end; its standard output (and error) into the strings given.
int RunProgram(const std::vector<std::string>& args, std::string* output = nullptr,
               std::string* errors = nullptr);

} // namespace tolvane::test
