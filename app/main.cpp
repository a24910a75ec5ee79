#include <cstdio>
#include <cstring>
#include <memory>

#include "app/decode_command.h"
#include "app/run.h"
#include "platform/host_platform.h"

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--decode") == 0) {
        return torvik::run_decode_command(argc - 2, argv + 2, stdin, stdout, stderr);
    }
    std::unique_ptr<torvik::Platform> platform = torvik::make_host_platform();
    torvik::RunContext ctx{*platform, stdout, stdin};
    return torvik::run(ctx, argc > 1 ? argv[1] : nullptr);
}
