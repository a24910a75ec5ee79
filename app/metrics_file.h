// --metrics FILE: the run's metrics for the node exporter's textfile collector, which reads every
// *.prom file of its folder at each scrape. The file is replaced whole, like every output, so the
// collector never reads half of one.
#pragma once

#include <cstdio>
#include <span>
#include <string>

#include "app/run_context.h"
#include "report/metrics_text.h"

namespace torvik {

// Writes the metrics of drives to ctx.metrics_file, a path relative to the current folder (never
// to --output-dir), through the output store ctx.open_folder opens on its folder, made when
// missing as --output-dir is. Nothing there is locked: the folder belongs to the collector, not to
// the run. False, with one line on ctx.err saying why, when the file is not written. run's version
// and platform are this build's, whatever the caller put there.
bool write_metrics_file(const RunContext& ctx, std::span<const MetricsDrive> drives,
                        MetricsRun run);

}  // namespace torvik
