#include "app/examine_drive.h"

namespace torvik {

const char kProgramVersion[] = TORVIK_VERSION;

}  // namespace torvik
