// The HTML page's chart of a drive's wear over time: the figure the projection rests on
// (percentage used, the erase counts against the rated P/E cycles, or the vendor's life figure),
// percentage used when that is another one, and data written, as small stacked charts over one
// time axis. The projection's straight line is dashed up to 100 % at the projected date, or up to
// ten years after the last run where that date is further off, in a band that spans the range of
// dates the readings allow; every label sits clear of the lines and of the other labels. Drawn
// twice, for a wide window and for a phone's, the page showing one. Inline SVG, no script; every
// coordinate written is a finite number, whatever the trend holds.
#pragma once

#include <string>

namespace torvik {

struct WearTrend;

// A whole <section> of the page: the chart and, beside it, the trend in words.
std::string wear_chart_section(const WearTrend& trend);

}  // namespace torvik
