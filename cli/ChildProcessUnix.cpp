#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ChildProcess.h"

namespace tarven::cli {

struct ChildProcess::Handles {
    pid_t pid = -1;
    int fd = -1;  // the child's stdout and stderr, one pipe
};

ChildProcess::ChildProcess() : handles_(std::make_unique<Handles>()) {}
ChildProcess::ChildProcess(ChildProcess&&) noexcept = default;
ChildProcess& ChildProcess::operator=(ChildProcess&&) noexcept = default;

ChildProcess::~ChildProcess() {
    if (handles_ && handles_->fd >= 0) ::close(handles_->fd);
}

std::string ChildProcess::Start(const std::string& program, const std::vector<std::string>& args) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return std::strerror(errno);
    std::vector<char*> argv;
    std::string name = "tarven-link";
    argv.push_back(name.data());
    std::vector<std::string> copies = args;
    for (auto& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid < 0) {
        const int error = errno;
        ::close(fds[0]);
        ::close(fds[1]);
        return std::strerror(error);
    }
    if (pid == 0) {
        // Nobody can answer a child's prompt: its input is empty.
        const int null = ::open("/dev/null", O_RDONLY);
        if (null >= 0) ::dup2(null, 0);
        ::dup2(fds[1], 1);
        ::dup2(fds[1], 2);
        ::execv(program.c_str(), argv.data());
        _exit(127);
    }
    ::close(fds[1]);
    handles_->pid = pid;
    handles_->fd = fds[0];
    return {};
}

bool ChildProcess::OutputOpen() const { return handles_->fd >= 0; }

long ChildProcess::Read(char* buffer, std::size_t size) {
    pollfd ready{handles_->fd, POLLIN, 0};
    if (handles_->fd < 0 || ::poll(&ready, 1, 0) <= 0) return -1;
    const ssize_t n = ::read(handles_->fd, buffer, size);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return -1;
    if (n > 0) return long(n);
    ::close(handles_->fd);
    handles_->fd = -1;
    return 0;
}

int ChildProcess::Wait() {
    if (handles_->pid < 0) return -1;
    int status = 0;
    while (::waitpid(handles_->pid, &status, 0) < 0 && errno == EINTR) {
    }
    handles_->pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A Ctrl-C reaches the children by itself; a SIGTERM sent to the parent alone does not.
void ChildProcess::Interrupt() {
    if (handles_->pid > 0) ::kill(handles_->pid, SIGTERM);
}

bool WaitForOutput(const std::vector<ChildProcess*>& children, int timeoutMs) {
    std::vector<pollfd> fds;
    for (const auto* c : children)
        if (c->OutputOpen()) fds.push_back({c->handles_->fd, POLLIN, 0});
    return ::poll(fds.data(), nfds_t(fds.size()), timeoutMs) > 0;
}

// Device nodes are the same when their device numbers are, other files when
// they are one file; a name that cannot be looked up is compared as written.
bool SameDevice(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    struct stat sa {
    }, sb{};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return a == b;
    if (S_ISCHR(sa.st_mode) && S_ISCHR(sb.st_mode)) return sa.st_rdev == sb.st_rdev;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace tarven::cli
