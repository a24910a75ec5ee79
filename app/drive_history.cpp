#include "app/drive_history.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <vector>

#include "app/examine_drive.h"
#include "app/program_message.h"
#include "common/printable_text.h"
#include "common/utc_time.h"
#include "model/history_line.h"
#include "model/key_figures.h"
#include "report/wear_trend_text.h"

namespace torvik {

namespace {

constexpr std::size_t kReadBlock = 64 * 1024;

bool blank(std::string_view line) {
    return line.find_first_not_of(" \t\r") == std::string_view::npos;
}

std::string shown(const std::string& path) {
    return "--history " + printable_text(path.c_str());
}

std::uint64_t count(std::size_t n) {
    return n;
}

// A line of the history as the trend takes it: a time outside the tool's range is no run of it.
bool read_record(std::string_view line, HistoryRecord& record) {
    return parse_history_line(line, record) && is_run_time(record.point.time);
}

// The message for a run the history holds already.
void say_recorded(const RunContext& ctx, const std::string& name, std::int64_t now) {
    print_message(ctx.err, "%s: this run (%s) is recorded already; not added again\n", name.c_str(),
                  format_utc_time(now).c_str());
}

// The figures of the current run, as its line will hold them.
WearPoint current_point(std::int64_t time, const KeyFigures& k) {
    return WearPoint{time,
                     k.percentage_used,
                     k.data_written_bytes,
                     k.power_on_hours,
                     k.average_erase_count,
                     k.rated_pe_cycles,
                     k.life_used};
}

}  // namespace

HistoryScan scan_history(HistoryReader& reader, const DriveKey& run, std::int64_t now,
                         WearTrendBuilder& builder, std::FILE* err, const std::string& name) {
    HistoryScan scan;
    std::vector<char> buffer(kReadBlock + kHistoryLineLimit);
    std::size_t begin = 0;
    std::size_t end = 0;
    bool overlong = false;  // inside a line past the limit: dropped up to its end
    bool at_eof = false;
    HistoryRecord record;
    const RunIdentity identity(run);
    const auto damaged = [&](std::size_t line_number) {
        if (++scan.damaged <= kHistoryNotesShown)
            print_message(err, "%s: line %" PRIu64 " is damaged; skipped\n", name.c_str(),
                          count(line_number));
    };
    const auto take_line = [&](std::string_view line) {
        ++scan.lines;
        if (blank(line))
            return;
        if (!read_record(line, record)) {
            damaged(scan.lines);
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
        if (overlong || line.size() >= kHistoryLineLimit) {
            overlong = false;
            ++scan.lines;
            damaged(scan.lines);
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
        if (end - begin >= kHistoryLineLimit) {
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
    if (scan.damaged > kHistoryNotesShown)
        print_message(err, "%s: %" PRIu64 " more damaged lines skipped\n", name.c_str(),
                      count(scan.damaged - kHistoryNotesShown));
    return scan;
}

HistoryPlan read_drive_history(const RunContext& ctx, DriveModel& model,
                               const KeyFigures& figures) {
    HistoryPlan plan;
    if (!ctx.asked.has(OutputId::history))
        return plan;
    const std::string name = shown(ctx.history);
    if (!model.run_time) {
        print_message(ctx.err,
                      "%s: the run has no recorded time (a replay folder without one); it "
                      "is not added to the history\n",
                      name.c_str());
        return plan;
    }
    if (figures.drive.serial.empty()) {
        print_message(ctx.err,
                      "%s: the drive gave no serial number; the run is not added to the "
                      "history\n",
                      name.c_str());
        return plan;
    }
    const std::int64_t now = *model.run_time;
    WearTrendBuilder builder(now);
    HistoryReader reader;
    std::string error;
    HistoryScan scan;
    switch (reader.open(ctx.history, error)) {
        case HistoryOpen::ok:
            scan = scan_history(reader, figures.drive, now, builder, ctx.err, name);
            break;
        case HistoryOpen::missing:
            break;  // the first run of the history
        case HistoryOpen::failed:
            scan.failed = true;
            scan.error = error;
            break;
    }
    if (scan.failed) {
        print_message(ctx.err, "cannot read %s: %s\n", name.c_str(),
                      printable_text(scan.error.c_str()).c_str());
        plan.failed = true;
        return plan;
    }
    builder.add(current_point(now, figures));  // after every record it was given
    if (scan.later > 0)
        print_message(ctx.err,
                      "%s: records of this drive later than this run: %" PRIu64
                      "; the trend stands as at the run\n",
                      name.c_str(), count(scan.later));
    if (builder.out_of_order() > 0)
        print_message(ctx.err,
                      "%s: records of this drive not later than the one before them "
                      "(appended out of time order): %" PRIu64 "; skipped\n",
                      name.c_str(), count(builder.out_of_order()));
    if (builder.restarts() > 0)
        print_message(ctx.err,
                      "%s: the drive's percentage used fell %" PRIu64
                      " %s (another drive under the same serial number?); the trend starts at "
                      "the last fall\n",
                      name.c_str(), count(builder.restarts()),
                      builder.restarts() == 1 ? "time" : "times");
    model.trend = builder.finish();
    model.trend->other_drive = scan.other_drive;
    judge_projected_wear(model.health, *model.trend, now);
    // --health shows the same words as its Trend line.
    if (!ctx.asked.has(OutputId::health))
        print_message(ctx.err, "%s: %s\n", name.c_str(), trend_summary(*model.trend).c_str());
    if (ctx.pass_identities != nullptr) {
        // --all: one drive's history gets one line a run, however many times the pass meets it.
        const auto& seen = *ctx.pass_identities;
        const auto first = std::find_if(seen.begin(), seen.end(), [&](const PassIdentity& p) {
            return same_identity(p.key, figures.drive);
        });
        if (first != seen.end()) {
            print_message(ctx.err,
                          "%s: drive %d has the same identity as drive %d: its history is not "
                          "appended\n",
                          name.c_str(), static_cast<int>(ctx.pass_drive),
                          static_cast<int>(first->drive));
            return plan;
        }
        ctx.pass_identities->push_back(PassIdentity{figures.drive, ctx.pass_drive});
    }
    if (scan.duplicate) {
        say_recorded(ctx, name, now);
        return plan;
    }
    plan.append = true;
    plan.read_end = scan.read_end;
    return plan;
}

bool append_drive_history(const RunContext& ctx, const DriveModel& model, const KeyFigures& figures,
                          const HistoryPlan& plan) {
    const std::int64_t now = model.run_time.value_or(0);
    const std::string line = history_line(now, kProgramVersion, figures);
    // Another run of the same drive and time (a folder replayed twice at once) may have appended
    // since the history was read: looked for again under the append's lock.
    const std::string serial = utf8_text(figures.drive.serial);
    AppendCheck check;
    check.read_end = plan.read_end;
    check.recorded = [&](std::string_view appended) {
        HistoryRecord record;
        while (!appended.empty()) {
            const std::size_t newline = appended.find('\n');
            const std::string_view text = appended.substr(0, newline);
            appended.remove_prefix(newline == std::string_view::npos ? appended.size()
                                                                     : newline + 1);
            if (read_record(text, record) && record.point.time == now && record.serial == serial)
                return true;
        }
        return false;
    };
    std::string error;
    if (append_history_line(ctx.history, line, error, ctx.lock_wait_ms, &check)) {
        if (check.already)
            say_recorded(ctx, shown(ctx.history), now);
        return true;
    }
    print_message(ctx.err, "cannot append to %s: %s\n", shown(ctx.history).c_str(),
                  printable_text(error.c_str()).c_str());
    return false;
}

}  // namespace torvik
