// What happens when a run is interrupted (Ctrl-C, a closed terminal, a termination request):
// every temporary output file is removed, the terminal gets back the mode it had before the
// closing prompt changed it, and the process ends. Output files already in place stay whole;
// those not yet committed keep their previous content.
#pragma once

namespace torvik {

// The exit status of an interrupted run where the system has none of its own (Windows). On
// Linux the process ends by the signal itself, which a shell shows as 128 + its number (130 for
// SIGINT, 143 for SIGTERM, 129 for SIGHUP, 131 for SIGQUIT).
inline constexpr int kInterruptedExitStatus = 130;

// Installs the handlers; called once by main(). A signal that was ignored when the program
// started (nohup) stays ignored. A closed pipe or the file size limit (SIGPIPE, SIGXFSZ) no
// longer ends the process: the write fails and is reported.
void install_interrupt_cleanup();

}  // namespace torvik
