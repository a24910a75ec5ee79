// The run as metrics for a monitoring system: the text format that Prometheus scrapes and that
// the node exporter's textfile collector reads from a folder. One file may hold several drives:
// each metric family is written once (its HELP and TYPE lines), followed by the samples of every
// drive, which the drive's serial and OS path labels tell apart. The names, labels and units are
// described in docs/metrics.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace torvik {

struct DriveModel;
struct KeyFigures;

// One drive of the file.
struct MetricsDrive {
    std::string path;  // the OS's name of the drive: "/dev/sdb", "\\.\PhysicalDrive2"
    const DriveModel* model = nullptr;     // nullptr: the run could not examine the drive
    std::optional<std::int64_t> run_time;  // seconds since 1970 UTC; none when not known
    const KeyFigures* figures = nullptr;   // the model's, drawn once by the run; with model only
};

// What the file says of the run itself rather than of one drive.
struct MetricsRun {
    std::string version;   // the tool's: "0.2a"
    std::string platform;  // the host platform the tool was built for: "Linux", "Windows"
    // --all only: the USB drives the pass found, when it scanned, and whether it met a drive it
    // could not open or ask for its bus for lack of rights; none for a single drive.
    std::optional<std::size_t> scan_drives{};
    std::optional<std::int64_t> scan_time{};
    std::optional<bool> scan_no_access{};
};

// The whole file: the build's info, the pass's scan (--all), then the drives' series.
std::string metrics_text(std::span<const MetricsDrive> drives, const MetricsRun& run);

// A label value as the format takes it between double quotes: backslash, double quote and line
// feed escaped; any other control byte and every byte outside ASCII (drive texts are ASCII, and
// a stray byte could make the file invalid UTF-8, which the scraper refuses) become U+FFFD.
std::string metrics_label_value(std::string_view text);

}  // namespace torvik
