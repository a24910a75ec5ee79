#include <cstdio>
#include <memory>

#include "app/program.h"
#include "platform/host_platform.h"
#include "platform/interrupt.h"

int main(int argc, char** argv) {
    torvik::install_interrupt_cleanup();
    const std::unique_ptr<torvik::Platform> host = torvik::make_host_platform();
    return torvik::run_program(argc, argv, *host, torvik::Console{stdout, stderr, stdin});
}
