#include "tests/support/simulated_run.h"

#include "app/examine_drive.h"
#include "app/outputs.h"
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
    const std::span<const OutputRow> rows = output_rows();
    for (std::size_t i = 0; i < rows.size() && how.every_file; ++i) {
        if (rows[i].option != nullptr && rows[i].file != nullptr)
            ctx.asked.add(i);
    }
    return examine_drive(ctx, first_arg);
}

}  // namespace torvik::testing
