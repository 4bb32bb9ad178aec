#include "io/TextFile.h"

#include <cstdint>
#include <filesystem>

namespace atsp {

bool openForReading(const std::string& fileName, std::ifstream& file) {
    std::error_code error;
    if (std::filesystem::is_directory(fileName, error)) {
        return false;
    }
    file.open(fileName, std::ios::in | std::ios::binary);
    return file.is_open();
}

bool readFileText(const std::string& fileName, std::string& text) {
    std::ifstream file;
    if (!openForReading(fileName, file)) {
        return false;
    }
    std::error_code error;
    // Sized once from the file's length where it has one, so that a large
    // file is never held twice while its buffer grows; anything beyond that
    // length (a growing file, a pipe) is read in chunks.
    const std::uintmax_t expectedSize = std::filesystem::file_size(fileName, error);
    text.assign(error ? 0 : static_cast<std::size_t>(expectedSize), '\0');
    std::size_t filled = 0;
    while (filled < text.size()) {
        const std::streamsize got = file.rdbuf()->sgetn(
            text.data() + filled, static_cast<std::streamsize>(text.size() - filled));
        if (got <= 0) {
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    constexpr std::size_t chunkSize = std::size_t{1} << 20;
    while (filled == text.size() && file.rdbuf()->sgetc() != std::char_traits<char>::eof()) {
        text.resize(filled + chunkSize);
        const std::streamsize got = file.rdbuf()->sgetn(text.data() + filled, chunkSize);
        filled += got > 0 ? static_cast<std::size_t>(got) : 0;
    }
    text.resize(filled);
    return !file.bad();
}

}  // namespace atsp
