// The --health block of the console: the verdict, a one-line summary, the NVMe drive's own
// identity, and one line per reason.
#pragma once

#include <string>

#include "model/health_verdict.h"

namespace torvik {

struct DriveModel;
struct KeyFigures;

// The figures a person reads at a glance, the run's key figures (from the page the verdict was
// judged from): "2% used, spare 100%, 36 C, 1,380 h (57 days), 18.06 TB written, 20.54 TB read"
// (decimal units, thousands separators). figures is nullptr when the run never reached the drive.
std::string health_summary(const HealthAssessment& health, const KeyFigures* figures);

// "Health: <VERDICT>\n", "Summary: ...\n", "NVMe: <model>, serial <serial>, firmware <revision>\n"
// when the Identify page was read, then one indented line per reason. drive and its figures are
// nullptr when the run never reached the drive. colour: the verdict word in ANSI colour (green,
// amber, red, grey), for a terminal only.
std::string health_block(const HealthAssessment& health, const DriveModel* drive,
                         const KeyFigures* figures, bool colour);

// The verdict word ("WARNING"), in its ANSI colour when colour is set, as the block's Health: line
// shows it; --all's summary shows it so too.
std::string verdict_word(HealthVerdict verdict, bool colour);

// Whether the console's block may be coloured: a terminal that shows colour, without NO_COLOR set
// to anything but the empty text, and whose TERM is not "dumb". no_color and term are nullptr
// when unset.
bool wants_colour(bool colour_terminal, const char* no_color, const char* term);

}  // namespace torvik
