#include "cli/values.h"

#include <charconv>
#include <cstdint>
#include <optional>

#include "platform/text.h"
#include "resources/typeinfo.h"

namespace {

std::optional<LONG> DecimalLiteral(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty() || text.front() == '+') return std::nullopt;
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
    return static_cast<LONG>(value);
}

// Up to eight hex digits; the bits are taken as a signed 32-bit value, so
// 0xFFFFFFFF is -1 as in script hosts.
std::optional<LONG> HexLiteral(std::string_view text) {
    if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) {
        return std::nullopt;
    }
    text.remove_prefix(2);
    if (text.size() > 8) return std::nullopt;
    std::uint32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return static_cast<LONG>(value);
}

}  // namespace

void LiteralToVariant(std::string_view literal, VARIANT* value) {
    VariantClear(value);
    std::optional<LONG> number = HexLiteral(literal);
    if (!number) number = DecimalLiteral(literal);
    if (number) {
        value->vt = VT_I4;
        value->lVal = *number;
    } else if (EqualsIgnoringCase(literal, "True") || EqualsIgnoringCase(literal, "False")) {
        value->vt = VT_BOOL;
        value->boolVal = EqualsIgnoringCase(literal, "True") ? VARIANT_TRUE : VARIANT_FALSE;
    } else {
        value->vt = VT_BSTR;
        value->bstrVal = BstrFromUtf8(literal);
    }
}

std::string VariantToDisplay(const VARIANT& value) {
    switch (value.vt) {
        case VT_EMPTY:
            return {};
        case VT_BOOL:
            return value.boolVal != VARIANT_FALSE ? "True" : "False";
        case VT_I4:
            return std::to_string(value.lVal);
        case VT_BSTR:
            return Utf8FromBstr(value.bstrVal);
        default:
            break;
    }
    ScopedVariant text;
    if (FAILED(VariantChangeType(text.get(), &value, 0, VT_BSTR))) return "?";
    return Utf8FromBstr((*text).bstrVal);
}

std::string FeatureNames(LONG mask) {
    constexpr std::string_view kPrefix = "fileFeature";
    std::string names;
    const EnumInfo* features = FindEnumByName("FeatureConstants");
    for (const ConstantInfo& constant :
         features ? features->constants : std::span<const ConstantInfo>{}) {
        const auto bit = static_cast<ULONG>(constant.value);
        if (bit == 0 || (bit & (bit - 1)) != 0 || (static_cast<ULONG>(mask) & bit) == 0) continue;
        if (!names.empty()) names += ' ';
        names += std::string_view(constant.name).substr(kPrefix.size());
    }
    return names.empty() ? "none" : names;
}

std::string ConstantName(std::string_view enumeration, LONG value) {
    if (const EnumInfo* info = FindEnumByName(enumeration)) {
        for (const ConstantInfo& constant : info->constants) {
            if (constant.value == value) return constant.name;
        }
    }
    return std::to_string(value);
}
