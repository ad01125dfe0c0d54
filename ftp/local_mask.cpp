#include "ftp/local_mask.h"

#include <cctype>
#include <cstddef>

namespace ftp {
namespace {

bool SameCharacter(char maskCharacter, char nameCharacter) {
    return maskCharacter == '?' || std::tolower(static_cast<unsigned char>(maskCharacter)) ==
                                       std::tolower(static_cast<unsigned char>(nameCharacter));
}

// Greedy matching that backtracks only to the last '*': linear in practice and
// never recursive, whatever the mask.
bool Matches(std::string_view mask, std::string_view name) {
    std::size_t m = 0;
    std::size_t n = 0;
    std::size_t starMask = std::string_view::npos;
    std::size_t starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == '*') {
            starMask = m++;
            starName = n;
        } else if (m < mask.size() && SameCharacter(mask[m], name[n])) {
            ++m;
            ++n;
        } else if (starMask != std::string_view::npos) {
            m = starMask + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*')
        ++m;
    return m == mask.size();
}

}  // namespace

bool MatchesLocalMask(std::string_view mask, std::string_view name) {
    if (Matches(mask, name)) return true;
    constexpr std::string_view kAnyExtension = ".*";
    if (mask.size() < kAnyExtension.size() || !mask.ends_with(kAnyExtension)) return false;
    if (name.find('.') != std::string_view::npos) return false;
    return Matches(mask.substr(0, mask.size() - kAnyExtension.size()), name);
}

}  // namespace ftp
