#include "app/bridge_choice.h"

#include <cstring>

#include "app/outputs.h"
#include "app/program_message.h"
#include "app/run_context.h"
#include "platform/host_platform.h"

namespace torvik {

namespace {

constexpr std::size_t kConfirmSize = 16;

// One line of ctx.in, its line end removed; false at end of input.
bool read_line(std::FILE* in, std::string& line) {
    line.clear();
    int c = std::fgetc(in);
    if (c == EOF)
        return false;
    for (; c != EOF && c != '\n'; c = std::fgetc(in)) {
        if (line.size() < kConfirmSize)
            line.push_back(static_cast<char>(c));
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

std::string refuse(const RunContext& ctx, std::string why) {
    if (ctx.err != nullptr)
        print_message(ctx.err, "%s\n", why.c_str());
    return why;
}

}  // namespace

std::string check_forced_bridge(const RunContext& ctx, std::int32_t drive) {
    if (!ctx.forced_bridge)
        return {};
    const BridgeChoice& forced = *ctx.forced_bridge;
    const std::string named = usb_id_text(*forced.id);
    const std::optional<UsbId> id = ctx.platform.usb_id(drive);
    if (!id || *id != *forced.id) {
        return refuse(ctx, "--bridge names USB bridge " + named + ", but drive " +
                               std::to_string(drive) + " is behind " +
                               (id ? "USB bridge " + usb_id_text(*id)
                                   : std::string("no USB bridge whose ID is known")));
    }
    if (const std::optional<BridgeForm> listed = bridge_form(*id)) {
        if (*listed == *forced.form)
            return {};
        return refuse(ctx, "USB bridge " + named + " speaks the " + bridge_form_name(*listed) +
                               " tunnel: --bridge cannot give it another");
    }
    if (ctx.json_out != nullptr || ctx.err == nullptr || !is_terminal(ctx.in)) {
        return refuse(ctx, "USB bridge " + named +
                               " is not in the bridge table: --bridge for it needs a typed yes "
                               "at a terminal");
    }
    // On standard error, so that --brief, which sends the run's lines nowhere, shows it too.
    print_message(ctx.err,
                  "USB bridge %s is not in the bridge table. Send it the NVMe reads of the %s "
                  "tunnel? A bridge of another kind may read this as a different command, for a "
                  "SATA bridge as a reset of its disk. Type yes to go on: ",
                  named.c_str(), bridge_form_name(*forced.form));
    std::fflush(ctx.err);
    std::string answer;
    if (read_line(ctx.in, answer) && answer == "yes")
        return {};
    return refuse(ctx, "--bridge for USB bridge " + named + " not confirmed");
}

BridgeChoice run_bridge(const RunContext& ctx, std::int32_t drive) {
    if (ctx.recorded_bridge)
        return ctx.recorded_bridge->bridge;
    BridgeChoice choice = bridge_choice(ctx.platform.usb_id(drive));
    if (ctx.forced_bridge && choice.id == ctx.forced_bridge->id) {
        choice.form = ctx.forced_bridge->form;
        choice.kind = BridgeKind::nvme;
    }
    return choice;
}

NvmeReadPlan run_nvme_reads(const RunContext& ctx, const BridgeChoice& bridge) {
    NvmeReadPlan plan = nvme_read_plan(bridge, nvme_pages_needed(ctx));
    if (ctx.recorded_bridge && ctx.recorded_bridge->nvme_reads_sent)
        plan.past_gate = plan.beyond_gate = *ctx.recorded_bridge->nvme_reads_sent;
    return plan;
}

}  // namespace torvik
