// One child process of a batch: its input empty, its stdout and stderr merged
// into one pipe that the parent reads without blocking, and its exit status.
// ChildProcessUnix.cpp or ChildProcessWin.cpp, chosen in CMake.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace tarven::cli {

class ChildProcess {
public:
    ChildProcess();
    ChildProcess(ChildProcess&&) noexcept;
    ChildProcess& operator=(ChildProcess&&) noexcept;
    ~ChildProcess();

    // Runs `program` with `args` after its own name. Empty when it started, else why not.
    std::string Start(const std::string& program, const std::vector<std::string>& args);
    bool OutputOpen() const;
    // Up to `size` bytes of what the child wrote: their count, 0 once its
    // output has ended (the pipe is closed then), -1 while nothing is waiting.
    long Read(char* buffer, std::size_t size);
    // Its exit status once it has ended; -1 when something killed it.
    int Wait();
    // Asks it to end in its orderly way, as an interrupt key would.
    void Interrupt();

    // Waits up to timeoutMs until one of `children` has output (or its end) to read.
    friend bool WaitForOutput(const std::vector<ChildProcess*>& children, int timeoutMs);

private:
    struct Handles;
    std::unique_ptr<Handles> handles_;
};

bool WaitForOutput(const std::vector<ChildProcess*>& children, int timeoutMs);

// Whether two device names are one receiver: a symbolic link and its target
// are; "\\.\COM2" and "com2" are.
bool SameDevice(const std::string& a, const std::string& b);

}  // namespace tarven::cli
