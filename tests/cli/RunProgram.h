// Runs the built tarven-link as a technician's shell would, with its own
// environment and working folder, and collects what it printed.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace tarven::cli::test {

struct Ran {
    int status = -1;  // exit status; -1 when killed
    std::string out, err;
    double seconds = 0;
};

// The program's arguments and environment as execve takes them. `env`
// entries ("NAME=value") come on top of this process's environment, from
// which every TARVEN_COM<n> is removed so the machine's own serial ports never
// take part.
struct ProgramLine {
    ProgramLine(const std::vector<std::string>& args, const std::vector<std::string>& env) {
        argStore.push_back(TARVEN_LINK_PROGRAM);
        argStore.insert(argStore.end(), args.begin(), args.end());
        for (char** e = environ; *e; ++e)
            if (std::string(*e).rfind("TARVEN_COM", 0) != 0) envStore.push_back(*e);
        envStore.insert(envStore.end(), env.begin(), env.end());
        for (auto& a : argStore) argv.push_back(a.data());
        for (auto& e : envStore) envp.push_back(e.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
    }
    ProgramLine(const ProgramLine&) = delete;
    ProgramLine& operator=(const ProgramLine&) = delete;

    std::vector<std::string> argStore, envStore;
    std::vector<char*> argv, envp;
};

// Runs the program and collects what it printed, killing it after limitSeconds.
inline Ran RunTarvenLink(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                         const std::string& cwd = {}, int limitSeconds = 60) {
    ProgramLine line(args, env);
    char* const* argv = line.argv.data();
    char* const* envp = line.envp.data();

    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return {};
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) _exit(126);
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        ::execve(argv[0], argv, envp);
        _exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    Ran ran;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&ran.out, &ran.err};
    int open = 2;
    const auto deadline = start + std::chrono::seconds(limitSeconds);
    while (open > 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            ::kill(pid, SIGKILL);
            break;
        }
        if (::poll(fds, 2, int(left.count())) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, std::size_t(n));
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (auto& f : fds)
        if (f.fd >= 0) ::close(f.fd);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    ran.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return ran;
}

}  // namespace tarven::cli::test
