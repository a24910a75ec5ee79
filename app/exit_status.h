// Process exit statuses. Failed commands inside the drive report never change the status: a run
// that reached the drive report ends with 0 whatever single commands failed inside it, or with 5
// when one of its output files could not be written.
#pragma once

namespace torvik {

inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;       // a bad extension argument, an unknown flash maker
inline constexpr int kExitBadDrive = 2;    // drive number out of range, or no answer at all
inline constexpr int kExitNotUsb = 3;      // the drive is not on the USB bus (or not there)
inline constexpr int kExitOpenFailed = 4;  // the disk could not be opened
// The report ran, but at least one output file is missing or incomplete (its previous content, if
// any, is kept); standard error names each file and the system's reason.
inline constexpr int kExitFilesIncomplete = 5;
// An interrupted run (Ctrl-C, SIGTERM, SIGHUP) ends by the signal, 128 + its number in a shell
// (130 for Ctrl-C); on Windows with kInterruptedExitStatus (130). See platform/interrupt.h.

// With --health, a run that reached the drive report ends with its verdict: PASSED keeps the
// run's own status, the others replace it (they outrank a file problem, being what was asked).
inline constexpr int kExitHealthWarning = 10;
inline constexpr int kExitHealthFailed = 11;
inline constexpr int kExitHealthUnknown = 12;

}  // namespace torvik
