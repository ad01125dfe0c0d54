#include "resources/errors.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace {

constexpr ErrorInfo kErrors[] = {
#define FT_ERROR(number, name, text) {number, #name, text},
#define FT_ERROR_UNNAMED(number, text) {number, "", text},
#include "resources/errors.inc"
#undef FT_ERROR
#undef FT_ERROR_UNNAMED
};

constexpr bool SortedByNumber() {
    for (std::size_t i = 1; i < std::size(kErrors); ++i) {
        if (kErrors[i - 1].number >= kErrors[i].number) return false;
    }
    return true;
}
static_assert(SortedByNumber(), "the error table must be sorted by number");

constexpr const char* kNoError = "No error";

}  // namespace

std::span<const ErrorInfo> ErrorTable() { return kErrors; }

const ErrorInfo* FindErrorByNumber(int number) {
    auto it = std::lower_bound(std::begin(kErrors), std::end(kErrors), number,
                               [](const ErrorInfo& e, int n) { return e.number < n; });
    return (it != std::end(kErrors) && it->number == number) ? &*it : nullptr;
}

const ErrorInfo* FindErrorByName(std::string_view name) {
    if (name.empty()) return nullptr;
    auto it = std::find_if(std::begin(kErrors), std::end(kErrors),
                           [name](const ErrorInfo& e) { return name == e.name; });
    return it != std::end(kErrors) ? &*it : nullptr;
}

const char* MessageTableText(DWORD code) {
    if (code == 0) return kNoError;
    if (!IsTableErrorCode(code)) return nullptr;
    const ErrorInfo* info = FindErrorByNumber(ErrorNumber(code));
    return info ? info->text : nullptr;
}

std::string ErrorDescription(DWORD code) {
    std::string text;
    if (const char* found = MessageTableText(code)) text = found;
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    if (text.empty()) {
        std::array<char, 64> buffer{};
        std::snprintf(buffer.data(), buffer.size(), "Undefined control error (0x%08lX)",
                      static_cast<unsigned long>(code));
        text = buffer.data();
    }
    return text;
}
