#include "app/MemoryCeiling.h"

#include <sys/resource.h>

#include <charconv>
#include <fstream>
#include <iterator>
#include <string>

namespace atsp {

namespace {

// The value of a "Name:   N kB" line, in bytes; zero when the line is missing.
std::uint64_t meminfoField(std::string_view text, std::string_view name) {
    std::size_t lineStart = 0;
    while (lineStart < text.size()) {
        std::size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string_view::npos) {
            lineEnd = text.size();
        }
        const std::string_view line = text.substr(lineStart, lineEnd - lineStart);
        if (line.size() > name.size() && line.substr(0, name.size()) == name &&
            line[name.size()] == ':') {
            const std::size_t digits = line.find_first_not_of(" \t", name.size() + 1);
            if (digits == std::string_view::npos) {
                return 0;
            }
            std::uint64_t kibibytes = 0;
            const std::errc error =
                std::from_chars(line.data() + digits, line.data() + line.size(), kibibytes).ec;
            return error == std::errc() ? kibibytes * 1024 : 0;
        }
        lineStart = lineEnd + 1;
    }
    return 0;
}

}  // namespace

std::uint64_t availableMemoryBytes(std::string_view meminfoText) {
    const std::uint64_t available = meminfoField(meminfoText, "MemAvailable");
    if (available == 0) {
        return 0;
    }
    return available + meminfoField(meminfoText, "SwapFree");
}

// AddressSanitizer and ThreadSanitizer map shadow memory far larger than
// what the program uses (GCC names them with macros, clang with features).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ATSP_SHADOW_MEMORY
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ATSP_SHADOW_MEMORY
#endif
#endif

void capAddressSpaceAtAvailableMemory() {
#if defined(ATSP_SHADOW_MEMORY)
    return;
#else
    std::ifstream meminfo("/proc/meminfo");
    const std::string text{std::istreambuf_iterator<char>(meminfo),
                           std::istreambuf_iterator<char>()};
    const std::uint64_t ceiling = availableMemoryBytes(text);
    rlimit limit{};
    if (ceiling == 0 || getrlimit(RLIMIT_AS, &limit) != 0) {
        return;
    }
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur <= ceiling) {
        return;
    }
    limit.rlim_cur =
        (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < ceiling) ? limit.rlim_max : ceiling;
    setrlimit(RLIMIT_AS, &limit);
#endif
}

}  // namespace atsp
