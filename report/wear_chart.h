// The HTML page's chart of a drive's wear over time: percentage used and data written at each
// run, as two small stacked charts over one time axis, with the projection's straight line dashed
// up to 100 %. Inline SVG, no script; every coordinate written is a finite number, whatever the
// trend holds.
#pragma once

#include <string>

namespace torvik {

struct WearTrend;

// A whole <section> of the page: the chart and, beside it, the trend in words.
std::string wear_chart_section(const WearTrend& trend);

}  // namespace torvik
