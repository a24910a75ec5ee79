#include "app/drive_history.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string>

#include "app/program_message.h"
#include "app/program_version.h"
#include "common/printable_text.h"
#include "common/utc_time.h"
#include "model/flash_counters.h"
#include "model/history_line.h"
#include "model/history_scan.h"
#include "model/key_figures.h"
#include "model/wear_trend.h"
#include "platform/history_file.h"
#include "report/wear_trend_text.h"

namespace torvik {

namespace {

std::string shown(const std::string& path) {
    return "--history " + printable_text(path.c_str());
}

std::uint64_t count(std::size_t n) {
    return n;
}

// The message for a run the history holds already.
void say_recorded(const RunContext& ctx, const std::string& name, std::int64_t now) {
    print_message(ctx.err, "%s: this run (%s) is recorded already; not added again\n", name.c_str(),
                  format_utc_time(now).c_str());
}

// The damaged lines of the scan: the first ones by number, then how many more.
void say_damaged(std::FILE* err, const std::string& name, const HistoryScan& scan) {
    const std::size_t named = std::min(scan.damaged, kDamagedLinesNamed);
    for (std::size_t i = 0; i < named; ++i)
        print_message(err, "%s: line %" PRIu64 " is damaged; skipped\n", name.c_str(),
                      count(scan.damaged_lines[i]));
    if (scan.damaged > named)
        print_message(err, "%s: %" PRIu64 " more damaged lines skipped\n", name.c_str(),
                      count(scan.damaged - named));
}

}  // namespace

HistoryPlan read_drive_history(const RunContext& ctx, DriveModel& model, const KeyFigures& figures,
                               PassState* pass) {
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
            scan = scan_history(reader, figures.drive, now, builder);
            say_damaged(ctx.err, name, scan);
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
    note_flash_counters(model.health, *model.trend);
    judge_projected_wear(model.health, *model.trend, now);
    // --health shows the same words as its Trend line.
    if (!ctx.asked.has(OutputId::health))
        print_message(ctx.err, "%s: %s\n", name.c_str(), trend_summary(*model.trend).c_str());
    if (pass != nullptr) {
        // --all: one drive's history gets one line a run, however many times the pass meets it.
        const auto& seen = pass->identities;
        const auto first = std::find_if(seen.begin(), seen.end(), [&](const PassIdentity& p) {
            return same_identity(p.key, figures.drive);
        });
        if (first != seen.end()) {
            print_message(ctx.err,
                          "%s: drive %d has the same identity as drive %d: its history is not "
                          "appended\n",
                          name.c_str(), static_cast<int>(pass->drive),
                          static_cast<int>(first->drive));
            return plan;
        }
        pass->identities.push_back(PassIdentity{figures.drive, pass->drive});
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
    AppendCheck check;
    check.read_end = plan.read_end;
    check.recorded = [&](std::string_view appended) {
        return holds_run(appended, now, figures.drive);
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
