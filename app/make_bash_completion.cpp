// Writes the bash completion script, made from the option table, to the file named by its
// argument (at build time, for cmake --install and the .deb).
#include <cstdio>
#include <string>

#include "app/command_line.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: torvik_make_bash_completion FILE\n", stderr);
        return 1;
    }
    const std::string script = torvik::bash_completion_script();
    std::FILE* file = std::fopen(argv[1], "wb");
    if (file == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    const bool written = std::fwrite(script.data(), 1, script.size(), file) == script.size();
    if (std::fclose(file) != 0 || !written) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
