#include "tests/support/simulated_run.h"

#include "app/examine_drive.h"
#include "sim/sim_platform.h"

namespace torvik::testing {

int run_on_simulated_drive(SimDrive& drive, Platform& host, FileStore& files,
                           const Console& console, const char* first_arg, const SimulatedRun& how) {
    SimPlatform platform(host, drive);
    RunContext ctx{.platform = platform,
                   .files = files,
                   .out = console.out,
                   .in = console.in,
                   .simulation = how.simulation,
                   .simulation_source = how.source,
                   .err = console.err};
    for (const auto& [asked, id] : {std::pair{how.json, OutputId::json},
                                    {how.health, OutputId::health},
                                    {how.html, OutputId::html}}) {
        if (asked)
            ctx.asked.add(id);
    }
    return examine_drive(ctx, first_arg);
}

}  // namespace torvik::testing
