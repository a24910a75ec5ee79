#include <cstdio>
#include <memory>

#include "app/run.h"
#include "platform/host_platform.h"

int main(int argc, char** argv) {
    std::unique_ptr<torvik::Platform> platform = torvik::make_host_platform();
    torvik::RunContext ctx{*platform, stdout, stdin};
    return torvik::run(ctx, argc > 1 ? argv[1] : nullptr);
}
