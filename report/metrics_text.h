// The run as metrics for a monitoring system: the text format that Prometheus scrapes and that
// the node exporter's textfile collector reads from a folder. One file may hold several drives:
// each metric family is written once (its HELP and TYPE lines), followed by the samples of every
// drive, which the drive's serial and OS path labels tell apart. The names, labels and units are
// described in docs/metrics.md.
#pragma once

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

// The whole file: empty for no drive.
std::string metrics_text(std::span<const MetricsDrive> drives);

// A label value as the format takes it between double quotes: backslash, double quote and line
// feed escaped; any other control byte and every byte outside ASCII (drive texts are ASCII, and
// a stray byte could make the file invalid UTF-8, which the scraper refuses) become U+FFFD.
std::string metrics_label_value(std::string_view text);

}  // namespace torvik
