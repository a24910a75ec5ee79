#include "platform/posix_interrupt.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <iterator>

#include "platform/interrupt.h"
#include "platform/temp_file_table.h"

namespace torvik {

namespace {

// Every signal that ends the process by default and that a user sends from a keyboard, a closed
// terminal or kill.
constexpr int kSignals[] = {SIGINT,  SIGTERM, SIGHUP,    SIGQUIT, SIGUSR1,
                            SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF};
// A closed pipe and the file size limit end a process by default, in the middle of a write.
// Ignored, they make the write fail (EPIPE, EFBIG), and the failure is reported like any other.
constexpr int kIgnoredSignals[] = {SIGPIPE, SIGXFSZ};

// Written by the main flow only while no handler can read them (flag cleared first).
termios saved_mode;
int saved_mode_fd = -1;
std::atomic<bool> mode_saved{false};

sigset_t interrupt_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : kSignals)
        sigaddset(&set, signal);
    return set;
}

// Only async-signal-safe calls: unlinkat, tcsetattr, sigprocmask, raise, _exit.
extern "C" void on_interrupt(int signal) {
    temp_file_table().remove_all([](std::intptr_t folder, const char* name) {
        ::unlinkat(static_cast<int>(folder), name, 0);
    });
    if (mode_saved.load())
        ::tcsetattr(saved_mode_fd, TCSANOW, &saved_mode);
    // The handler was reset to the default on entry: end the process by the same signal.
    sigset_t own;
    sigemptyset(&own);
    sigaddset(&own, signal);
    ::sigprocmask(SIG_UNBLOCK, &own, nullptr);
    ::raise(signal);
    ::_exit(128 + signal);
}

}  // namespace

InterruptHold::InterruptHold() {
    const sigset_t set = interrupt_signals();
    ::sigprocmask(SIG_BLOCK, &set, &previous_);
}

InterruptHold::~InterruptHold() {
    ::sigprocmask(SIG_SETMASK, &previous_, nullptr);
}

void remember_terminal_mode(int fd, const termios& mode) {
    mode_saved.store(false);
    saved_mode = mode;
    saved_mode_fd = fd;
    mode_saved.store(true);
}

void forget_terminal_mode() {
    mode_saved.store(false);
}

void install_interrupt_cleanup() {
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    action.sa_mask = interrupt_signals();  // one cleanup at a time
    action.sa_flags = SA_RESETHAND;
    for (int signal : kSignals) {
        struct sigaction previous {};
        if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signal, &action, nullptr);
    }
    for (int signal : kIgnoredSignals)
        ::signal(signal, SIG_IGN);
}

void ignored_signals(sigset_t& set) {
    sigemptyset(&set);
    for (int signal : kIgnoredSignals)
        sigaddset(&set, signal);
}

}  // namespace torvik
