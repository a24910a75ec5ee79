// Runs a command and writes its peak resident memory, in KiB, to a file:
//   peak_rss FILE COMMAND [ARG...]
// Exits with the command's status (128 + the signal that ended it). The command is started with
// posix_spawn, whose child shares this program's memory until the exec; the kernel counts that
// memory in the command's peak as well, so this program stays small (linked statically, nothing
// allocated): what it adds is far below any floor it checks.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

extern char** environ;

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: peak_rss FILE COMMAND [ARG...]\n", stderr);
        return 2;
    }
    pid_t pid = 0;
    if (const int error = posix_spawnp(&pid, argv[2], nullptr, nullptr, argv + 2, environ)) {
        std::fprintf(stderr, "peak_rss: %s: %s\n", argv[2], std::strerror(error));
        return 127;
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) {
        std::perror("peak_rss: wait4");
        return 2;
    }
    std::FILE* out = std::fopen(argv[1], "w");
    if (out == nullptr || std::fprintf(out, "%ld\n", usage.ru_maxrss) < 0 ||
        std::fclose(out) != 0) {
        std::perror(argv[1]);
        return 2;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
