// What became of one output file.
#pragma once

namespace torvik {

enum class FileOutcome {
    written,
    not_created,   // the file could not be created
    write_failed,  // created, but not every byte reached it
};

}  // namespace torvik
