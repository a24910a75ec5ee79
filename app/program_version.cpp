#include "app/program_version.h"

namespace torvik {

const char kProgramVersion[] = TORVIK_VERSION;

}  // namespace torvik
