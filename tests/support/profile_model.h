// A simulated profile read into a drive model, as a run reads it, for the tests of what is drawn
// from a model.
#pragma once

#include "model/drive_model.h"
#include "model/drive_reader.h"

namespace torvik::testing {

// The model a run reads from the simulated profile `profile` (every page, the verdict judged),
// with the reader's hooks when given; the drive is checked for reads only.
DriveModel read_profile_model(const char* profile, const ReadHooks& hooks = {});

}  // namespace torvik::testing
