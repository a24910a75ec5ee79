// torvik_e2e_open_watch: prints every open and close of the given files, for the end-to-end
// guest's check that the tool never opens a disk node for writing (busybox has no inotifyd).
//
//   torvik_e2e_open_watch [--ready FILE] PATH...
//
// One line per event, written at once: "open PATH", "close-read PATH" (closed, not opened for
// writing) or "close-write PATH" (closed after an open for writing, whether or not anything was
// written). --ready names a file created once every watch is in place. Runs until it is killed.
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

int main(int argc, char** argv) {
    std::string ready;
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "--ready") == 0) {
        ready = argv[2];
        first = 3;
    }
    if (first >= argc) {
        std::fputs("usage: torvik_e2e_open_watch [--ready FILE] PATH...\n", stderr);
        return 2;
    }
    const int fd = inotify_init1(IN_CLOEXEC);
    if (fd < 0) {
        std::perror("open_watch: inotify_init1");
        return 2;
    }
    std::map<int, std::string> paths;
    for (int i = first; i < argc; ++i) {
        const int wd = inotify_add_watch(fd, argv[i], IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE);
        if (wd < 0) {
            std::fprintf(stderr, "open_watch: cannot watch %s: %s\n", argv[i],
                         std::strerror(errno));
            return 2;
        }
        paths[wd] = argv[i];
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (!ready.empty()) {
        std::FILE* f = std::fopen(ready.c_str(), "w");
        if (f == nullptr || std::fclose(f) != 0) {
            std::fprintf(stderr, "open_watch: cannot create %s\n", ready.c_str());
            return 2;
        }
    }
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            std::perror("open_watch: read");
            return 2;
        }
        for (ssize_t at = 0; at < n;) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof event);
            at += static_cast<ssize_t>(sizeof event + event.len);
            const std::string& path = paths[event.wd];
            if ((event.mask & IN_OPEN) != 0)
                std::printf("open %s\n", path.c_str());
            if ((event.mask & IN_CLOSE_NOWRITE) != 0)
                std::printf("close-read %s\n", path.c_str());
            if ((event.mask & IN_CLOSE_WRITE) != 0)
                std::printf("close-write %s\n", path.c_str());
            if ((event.mask & IN_Q_OVERFLOW) != 0)
                std::printf("overflow\n");
        }
    }
}
