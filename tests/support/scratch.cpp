#include "tests/support/scratch.h"

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "tests/support/fake_platform.h"

namespace torvik::testing {

namespace fs = std::filesystem;

ScratchDir::ScratchDir() : previous_(fs::current_path()) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path candidate =
            fs::temp_directory_path() / ("torvik_test_" + std::to_string(random()));
        if (fs::create_directory(candidate)) {
            dir_ = candidate;
            fs::current_path(dir_);
            return;
        }
    }
    throw std::runtime_error("cannot make a scratch directory");
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    fs::current_path(previous_, ec);
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
}

bool ScratchDir::exists(const std::string& name) const {
    return fs::exists(dir_ / name);
}

std::string ScratchDir::read(const std::string& name) const {
    return read_file(dir_ / name);
}

std::string ScratchDir::read_text(const std::string& name) const {
    return without_cr(read(name));
}

std::vector<unsigned char> ScratchDir::read_bytes(const std::string& name) const {
    const std::string text = read(name);
    return std::vector<unsigned char>(text.begin(), text.end());
}

Capture::Capture() : file_(anonymous_file()) {}

Capture::~Capture() {
    std::fclose(file_);
}

std::string Capture::text() const {
    std::fflush(file_);
    const long end = std::ftell(file_);
    std::string text(static_cast<std::size_t>(end), '\0');
    std::rewind(file_);
    const std::size_t n = std::fread(text.data(), 1, text.size(), file_);
    text.resize(n);
    std::fseek(file_, 0, SEEK_END);
    return text;
}

std::FILE* anonymous_file() {
#ifdef _WIN32
    // The Windows C runtime's tmpfile() creates its file in the root of the current drive, which
    // only an administrator may write. Mode 'D' removes the file when it is closed.
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate =
            fs::temp_directory_path() / ("torvik_tmp_" + std::to_string(random()));
        if (fs::exists(candidate))
            continue;
        if (std::FILE* file = std::fopen(candidate.string().c_str(), "w+bD"))
            return file;
    }
    throw std::runtime_error("cannot make a temporary file");
#else
    std::FILE* file = std::tmpfile();
    if (file == nullptr)
        throw std::runtime_error("tmpfile failed");
    return file;
#endif
}

std::string without_cr(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        out += text[i];
    }
    return out;
}

std::FILE* input_from(const std::string& text) {
    std::FILE* file = anonymous_file();
    std::fwrite(text.data(), 1, text.size(), file);
    std::rewind(file);
    return file;
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string read_text_file(const fs::path& path) {
    return without_cr(read_file(path));
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string written_text(const std::function<void(OutputFile*)>& writer) {
    ScratchDir dir;
    FakePlatform platform;
    {
        OutputFile file(platform, "written.txt", FileKind::text);
        writer(&file);
        file.commit();
    }
    return dir.read_text("written.txt");
}

}  // namespace torvik::testing
