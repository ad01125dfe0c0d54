#include "ssh/config.h"

#include <limits>

namespace {

struct SuffixShift {
    char suffix;
    int shift;
};
constexpr SuffixShift kSuffixes[] = {{'K', 10}, {'M', 20}, {'G', 30},
                                     {'k', 10}, {'m', 20}, {'g', 30}};

}  // namespace

std::optional<std::uint64_t> ParseSshDataLimit(std::string_view text) {
    int shift = 0;
    if (!text.empty()) {
        for (const SuffixShift& s : kSuffixes) {
            if (text.back() == s.suffix) {
                shift = s.shift;
                text.remove_suffix(1);
                break;
            }
        }
    }
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        if (value > (std::numeric_limits<std::uint64_t>::max() - 9) / 10) return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value > (std::numeric_limits<std::uint64_t>::max() >> shift)) return std::nullopt;
    return value << shift;
}
