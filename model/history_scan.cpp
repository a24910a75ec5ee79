#include "model/history_scan.h"

#include <cstring>
#include <vector>

#include "common/utc_time.h"
#include "model/history_line.h"

namespace torvik {

namespace {

constexpr std::size_t kReadBlock = 64 * 1024;

bool blank(std::string_view line) {
    return line.find_first_not_of(" \t\r") == std::string_view::npos;
}

// A line of the history as the trend takes it: a time outside the tool's range is no run of it.
bool read_record(std::string_view line, HistoryRecord& record) {
    return parse_history_line(line, record) && is_run_time(record.point.time);
}

}  // namespace

HistoryScan scan_history(HistoryReader& reader, const DriveKey& run, std::int64_t now,
                         WearTrendBuilder& builder) {
    HistoryScan scan;
    std::vector<char> buffer(kReadBlock + kHistoryLineLimit);
    std::size_t begin = 0;
    std::size_t end = 0;
    bool overlong = false;  // inside a line past the limit: dropped up to its end
    bool at_eof = false;
    HistoryRecord record;
    const RunIdentity identity(run);
    const auto damaged = [&] {
        if (scan.damaged < kDamagedLinesNamed)
            scan.damaged_lines[scan.damaged] = scan.lines;
        ++scan.damaged;
    };
    const auto take_line = [&](std::string_view line) {
        ++scan.lines;
        if (blank(line))
            return;
        if (!read_record(line, record)) {
            damaged();
            return;
        }
        if (!same_drive(record, identity)) {
            ++scan.other_drive;
            return;
        }
        if (record.point.time == now) {
            scan.duplicate = true;
            return;
        }
        if (record.point.time > now) {
            ++scan.later;  // a replayed older run: the trend as it stood then
            return;
        }
        ++scan.records;
        builder.add(record.point);
    };
    const auto next_line = [&](std::string_view line) {
        if (overlong || line.size() > kHistoryLineLimit) {
            overlong = false;
            ++scan.lines;
            damaged();
        } else {
            take_line(line);
        }
    };
    while (!at_eof || begin < end || overlong) {
        const char* start = buffer.data() + begin;
        const auto* newline = static_cast<const char*>(std::memchr(start, '\n', end - begin));
        if (newline != nullptr) {
            const auto length = static_cast<std::size_t>(newline - start);
            next_line(std::string_view(start, length));
            begin += length + 1;
            continue;
        }
        if (at_eof) {  // a last line without its line end
            next_line(std::string_view(start, end - begin));
            break;
        }
        if (end - begin > kHistoryLineLimit) {
            overlong = true;
            begin = end = 0;
        } else {
            std::memmove(buffer.data(), start, end - begin);
            end -= begin;
            begin = 0;
        }
        const std::ptrdiff_t n = reader.read(buffer.data() + end, buffer.size() - end, scan.error);
        if (n < 0) {
            scan.failed = true;
            break;
        }
        if (n == 0)
            at_eof = true;
        end += static_cast<std::size_t>(n);
    }
    scan.read_end = reader.offset();
    return scan;
}

WearPoint current_point(std::int64_t time, const KeyFigures& k) {
    return WearPoint{time,
                     k.percentage_used,
                     k.data_written_bytes,
                     k.power_on_hours,
                     k.average_erase_count,
                     k.rated_pe_cycles,
                     k.life_used,
                     k.flash_counters};
}

bool holds_run(std::string_view appended, std::int64_t time, const DriveKey& run) {
    const RunIdentity identity(run);
    HistoryRecord record;
    while (!appended.empty()) {
        const std::size_t newline = appended.find('\n');
        const std::string_view line = appended.substr(0, newline);
        appended.remove_prefix(newline == std::string_view::npos ? appended.size() : newline + 1);
        if (read_record(line, record) && record.point.time == time && same_drive(record, identity))
            return true;
    }
    return false;
}

}  // namespace torvik
