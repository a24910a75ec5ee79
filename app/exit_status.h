// Process exit statuses. The report itself never changes the status: a run that reached the
// drive report ends with 0 whatever single commands failed inside it.
#pragma once

namespace torvik {

inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;       // a bad extension argument, an unknown flash maker
inline constexpr int kExitBadDrive = 2;    // drive number out of range, or no answer at all
inline constexpr int kExitNotUsb = 3;      // the drive is not on the USB bus (or not there)
inline constexpr int kExitOpenFailed = 4;  // the disk could not be opened

// With --health, a run that reached the drive report ends with its verdict: PASSED keeps the
// run's own status, the others replace it (they outrank a file problem, being what was asked).
inline constexpr int kExitHealthWarning = 10;
inline constexpr int kExitHealthFailed = 11;
inline constexpr int kExitHealthUnknown = 12;

}  // namespace torvik
