// The POSIX side of the interrupt handling: holding interruptions back for a few calls, and the
// terminal mode to restore.
#pragma once

#include <signal.h>
#include <termios.h>

namespace torvik {

// Blocks the interrupting signals for its lifetime, so that creating a file and recording its
// name (or renaming it and dropping the name) happen as one step for the handler.
class InterruptHold {
  public:
    InterruptHold();
    ~InterruptHold();
    InterruptHold(const InterruptHold&) = delete;
    InterruptHold& operator=(const InterruptHold&) = delete;

  private:
    sigset_t previous_;
};

// The mode the terminal on fd had before the program changed it; restored by the handler.
void remember_terminal_mode(int fd, const termios& mode);
void forget_terminal_mode();

// The signals the tool ignores for itself, which a program it starts must get back as default.
void ignored_signals(sigset_t& set);

}  // namespace torvik
