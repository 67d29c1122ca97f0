// The built tarven-link run in the background, so a test can act while it
// runs: answer its prompt on a terminal, send it a signal, or leave its
// standard error unread until the pipe is full.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "RunProgram.h"

namespace tarven::cli::test {

struct LiveSetup {
    std::vector<std::string> args;
    std::vector<std::string> env;  // on top of this process's, without TARVEN_COM<n>
    std::string cwd;
    int stdinFd = -1;         // -1: /dev/null
    bool readErr = true;      // false: nobody reads standard error
    int errPipeBytes = 0;     // > 0: standard error's pipe holds only this much
    long fileSizeLimit = -1;  // >= 0: writes beyond this many bytes fail
};

class LiveProgram {
public:
    explicit LiveProgram(const LiveSetup& setup) {
        ProgramLine line(setup.args, setup.env);
        char* const* argv = line.argv.data();
        char* const* envp = line.envp.data();

        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
        if (setup.errPipeBytes > 0) ::fcntl(err[1], F_SETPIPE_SZ, setup.errPipeBytes);
        pid_ = ::fork();
        if (pid_ == 0) {
            if (!setup.cwd.empty() && ::chdir(setup.cwd.c_str()) != 0) _exit(126);
            const int in = setup.stdinFd >= 0 ? setup.stdinFd : ::open("/dev/null", O_RDONLY);
            ::dup2(in, 0);
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            if (setup.fileSizeLimit >= 0) {
                const rlimit limit{rlim_t(setup.fileSizeLimit), rlim_t(setup.fileSizeLimit)};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
            ::execve(argv[0], argv, envp);
            _exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        errFd_ = err[0];
        reader_ = std::thread([this, outFd = out[0], errFd = setup.readErr ? err[0] : -1] { Read(outFd, errFd); });
    }
    ~LiveProgram() {
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            Finish(std::chrono::seconds(5));
        }
        if (reader_.joinable()) reader_.join();
        if (errFd_ >= 0) ::close(errFd_);
    }

    std::string Err() const {
        std::lock_guard lock(mutex_);
        return err_;
    }
    // True once standard error holds `text`; false when `limit` passed first.
    bool WaitForErr(const std::string& text, std::chrono::milliseconds limit) const {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (Err().find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }
    bool Running() const {
        siginfo_t info{};
        return !reaped_ && ::waitid(P_PID, id_t(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
    }
    void Signal(int sig) const { ::kill(pid_, sig); }

    // Waits for the end, at most `limit` (then kills it); `seconds` counts from this call.
    Ran Finish(std::chrono::milliseconds limit) {
        const auto start = std::chrono::steady_clock::now();
        Ran ran;
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() - start >= limit) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                status = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        reaped_ = true;
        ran.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ran.status = status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        done_ = true;
        if (reader_.joinable()) reader_.join();
        std::lock_guard lock(mutex_);
        ran.out = out_;
        ran.err = err_;
        return ran;
    }

private:
    void Read(int outFd, int errFd) {
        pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
        std::string* sinks[2] = {&out_, &err_};
        while (fds[0].fd >= 0 || fds[1].fd >= 0) {
            if (::poll(fds, 2, 50) <= 0) {
                if (done_) break;
                continue;
            }
            for (int i = 0; i < 2; ++i) {
                if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
                char buffer[4096];
                const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
                if (n > 0) {
                    std::lock_guard lock(mutex_);
                    sinks[i]->append(buffer, std::size_t(n));
                } else {
                    fds[i].fd = -1;
                }
            }
        }
        ::close(outFd);
    }

    pid_t pid_ = -1;
    int errFd_ = -1;
    std::thread reader_;
    std::atomic<bool> done_{false}, reaped_{false};
    mutable std::mutex mutex_;
    std::string out_, err_;
};

}  // namespace tarven::cli::test
