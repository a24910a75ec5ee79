#include <cstdio>
#include <memory>
#include <string>

#include "app/exit_status.h"
#include "app/program.h"
#include "platform/host_platform.h"
#include "platform/interrupt.h"
#include "platform/output_folder.h"

int main(int argc, char** argv) {
    // First of all: a standard stream closed at start must not lend its number to an output file.
    bool out_closed = false;
    if (!torvik::open_missing_standard_streams(&out_closed))
        return torvik::kExitUsage;
    torvik::install_interrupt_cleanup();
    const std::unique_ptr<torvik::Platform> host = torvik::make_host_platform();
    const torvik::OutputFolderOpener open_folder = [](const std::string& dir, std::string& error) {
        return torvik::open_output_folder(dir, error);
    };
    return torvik::run_program(argc, argv, *host, open_folder,
                               torvik::Console{stdout, stderr, stdin, out_closed});
}
