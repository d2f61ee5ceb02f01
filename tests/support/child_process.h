// Runs a program as a child with all three standard streams on pipes, for driving the
// solver the way its controlling program does.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

using std::chrono::milliseconds;

// time_left returns the time from now to |deadline|: negative once it has passed, which the
// waits below take as no wait at all.
inline milliseconds time_left(std::chrono::steady_clock::time_point deadline) {
    return std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
}

// ChildProcess: one running child with its three standard streams on pipes.
class ChildProcess {
  public:
    // ChildProcess starts argv[0] (searched in PATH) with the given arguments.
    explicit ChildProcess(const std::vector<std::string>& argv);
    // ~ChildProcess kills the child if it is still running and reaps it.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // write_input writes all of |data| to the child's standard input while draining its
    // output; false when the child closed its input or |limit| passed.
    bool write_input(const std::string& data, milliseconds limit = milliseconds(30000));
    // close_input closes the child's standard input.
    void close_input();
    // close_output closes the reading end of the child's standard output, as a controlling
    // program that dies does.
    void close_output();

    // next_line returns the next whole line of standard output (without the newline), or
    // nothing if none completes within |limit| (none at all past a zero or negative one).
    std::optional<std::string> next_line(milliseconds limit);

    // wait_exit waits for the child to end, draining its output; returns the exit status,
    // 128 + signal for a signal, or -1 after |limit| (the child is then left running).
    int wait_exit(milliseconds limit);

    // stdout_text returns everything read from standard output so far.
    const std::string& stdout_text() const { return out_; }
    // stderr_text returns everything read from standard error so far.
    const std::string& stderr_text() const { return err_; }
    // pid returns the child's process id.
    pid_t pid() const { return pid_; }

  private:
    // pump waits up to |timeout_ms| for output (or for input room when |want_write|) and
    // reads what has arrived; returns true when the input pipe can take more.
    bool pump(int timeout_ms, bool want_write);

    pid_t pid_ = -1;
    int in_fd_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    bool reaped_ = false;
    int status_ = -1;
    std::string out_;
    std::string err_;
    size_t line_pos_ = 0;
};

// peak_memory_kib returns the VmHWM of a running process in KiB, or -1.
long peak_memory_kib(pid_t pid);
