// The version text, as the build states it (the banner, --version, the report file's first line,
// the JSON, the history and the metrics).
#pragma once

namespace torvik {

extern const char kProgramVersion[];

}  // namespace torvik
