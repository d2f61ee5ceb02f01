#include "tests/support/child_process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using clock_type = std::chrono::steady_clock;

int remaining_ms(clock_type::time_point deadline) {
    return static_cast<int>(std::max<long long>(0, time_left(deadline).count()));
}

void set_nonblocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
    // A child that exits while we write must give EPIPE, not kill the test.
    std::signal(SIGPIPE, SIG_IGN);
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
        throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    in_fd_ = in[1];
    out_fd_ = out[0];
    err_fd_ = err[0];
    set_nonblocking(in_fd_);
    set_nonblocking(out_fd_);
    set_nonblocking(err_fd_);
}

ChildProcess::~ChildProcess() {
    if (!reaped_ && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    for (int fd : {in_fd_, out_fd_, err_fd_})
        if (fd >= 0) close(fd);
}

bool ChildProcess::pump(int timeout_ms, bool want_write) {
    pollfd fds[3];
    int n = 0;
    int out_index = -1, err_index = -1, in_index = -1;
    if (out_fd_ >= 0) out_index = n, fds[n++] = {out_fd_, POLLIN, 0};
    if (err_fd_ >= 0) err_index = n, fds[n++] = {err_fd_, POLLIN, 0};
    if (want_write && in_fd_ >= 0) in_index = n, fds[n++] = {in_fd_, POLLOUT, 0};
    if (n == 0) return false;
    if (poll(fds, n, timeout_ms) <= 0) return false;
    char buf[65536];
    const auto drain = [&buf](int& fd, std::string& sink) {
        for (;;) {
            const ssize_t got = read(fd, buf, sizeof buf);
            if (got > 0) {
                sink.append(buf, static_cast<size_t>(got));
                continue;
            }
            if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
                close(fd);
                fd = -1;
            }
            return;
        }
    };
    if (out_index >= 0 && fds[out_index].revents) drain(out_fd_, out_);
    if (err_index >= 0 && fds[err_index].revents) drain(err_fd_, err_);
    return in_index >= 0 && (fds[in_index].revents & POLLOUT);
}

bool ChildProcess::write_input(const std::string& data, milliseconds limit) {
    const auto deadline = clock_type::now() + limit;
    size_t done = 0;
    while (done < data.size()) {
        if (in_fd_ < 0 || clock_type::now() > deadline) return false;
        if (!pump(remaining_ms(deadline), true)) continue;
        const ssize_t put = write(in_fd_, data.data() + done, data.size() - done);
        if (put > 0)
            done += static_cast<size_t>(put);
        else if (errno != EAGAIN && errno != EINTR)
            return false;
    }
    return true;
}

void ChildProcess::close_input() {
    if (in_fd_ >= 0) close(in_fd_);
    in_fd_ = -1;
}

void ChildProcess::close_output() {
    if (out_fd_ >= 0) close(out_fd_);
    out_fd_ = -1;
}

std::optional<std::string> ChildProcess::next_line(milliseconds limit) {
    const auto deadline = clock_type::now() + limit;
    for (;;) {
        const size_t end = out_.find('\n', line_pos_);
        if (end != std::string::npos) {
            std::string line = out_.substr(line_pos_, end - line_pos_);
            line_pos_ = end + 1;
            return line;
        }
        if (out_fd_ < 0 || clock_type::now() > deadline) return std::nullopt;
        pump(remaining_ms(deadline), false);
    }
}

int ChildProcess::wait_exit(milliseconds limit) {
    const auto deadline = clock_type::now() + limit;
    while (!reaped_) {
        int status = 0;
        const pid_t got = waitpid(pid_, &status, WNOHANG);
        if (got == pid_) {
            reaped_ = true;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (clock_type::now() > deadline) return -1;
        if (out_fd_ < 0 && err_fd_ < 0)
            usleep(2000);
        else
            pump(std::min(remaining_ms(deadline), 20), false);
    }
    // Whatever the child wrote before it ended is still in the pipes.
    for (int i = 0; i < 50 && (out_fd_ >= 0 || err_fd_ >= 0); ++i)
        pump(100, false);
    return status_;
}

long peak_memory_kib(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmHWM:") {
            long kib = -1;
            status >> kib;
            return kib;
        }
        status.ignore(1 << 20, '\n');
    }
    return -1;
}
