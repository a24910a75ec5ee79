#include "tests/support/program_run.h"

#include <cstdio>

#include "app/program.h"
#include "tests/support/scratch.h"

namespace torvik::testing {

ProgramRun run_whole_program(FakePlatform& host, std::vector<const char*> args,
                             const std::string& typed) {
    args.insert(args.begin(), "torvik_usb_pssd_flash_id");
    Capture out;
    Capture err;
    std::FILE* in = input_from(typed);
    ProgramRun run;
    run.status = run_program(static_cast<int>(args.size()), args.data(), host, fake_folders(host),
                             Console{out.file(), err.file(), in});
    std::fclose(in);
    run.out = out.text();
    run.err = err.text();
    return run;
}

}  // namespace torvik::testing
