#include <cstdlib>
#include <cstring>

#include "platform/automation.h"

namespace {

constexpr size_t kPrefix = sizeof(DWORD);
constexpr UINT kMaxBytes = 0x7FFFFFF0u;

// One block: the byte length, the bytes, then two NUL bytes (and one more for
// odd lengths, so the text always ends in a whole NUL character).
BSTR AllocateBytes(const void* bytes, UINT byteLength) {
    if (byteLength > kMaxBytes) return nullptr;
    size_t total = kPrefix + byteLength + 3;
    auto* block = static_cast<unsigned char*>(std::malloc(total));
    if (!block) return nullptr;
    DWORD length = byteLength;
    std::memcpy(block, &length, kPrefix);
    if (bytes) {
        std::memcpy(block + kPrefix, bytes, byteLength);
    } else {
        std::memset(block + kPrefix, 0, byteLength);
    }
    std::memset(block + kPrefix + byteLength, 0, 3);
    return reinterpret_cast<BSTR>(block + kPrefix);
}

unsigned char* BlockOf(BSTR bstr) {
    return reinterpret_cast<unsigned char*>(bstr) - kPrefix;
}

}  // namespace

BSTR SysAllocString(const OLECHAR* text) {
    if (!text) return nullptr;
    return SysAllocStringLen(text, static_cast<UINT>(std::char_traits<char16_t>::length(text)));
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    if (length > kMaxBytes / sizeof(OLECHAR)) return nullptr;
    return AllocateBytes(text, length * static_cast<UINT>(sizeof(OLECHAR)));
}

BSTR SysAllocStringByteLen(const char* bytes, UINT length) {
    return AllocateBytes(bytes, length);
}

INT SysReAllocStringLen(BSTR* bstr, const OLECHAR* text, UINT length) {
    if (!bstr) return FALSE;
    BSTR replacement = SysAllocStringLen(text, length);  // text may lie in the old string
    if (!replacement) return FALSE;
    SysFreeString(*bstr);
    *bstr = replacement;
    return TRUE;
}

INT SysReAllocString(BSTR* bstr, const OLECHAR* text) {
    if (!bstr) return FALSE;
    UINT length = text ? static_cast<UINT>(std::char_traits<char16_t>::length(text)) : 0;
    return SysReAllocStringLen(bstr, text, length);
}

void SysFreeString(BSTR bstr) {
    if (bstr) std::free(BlockOf(bstr));
}

UINT SysStringByteLen(BSTR bstr) {
    if (!bstr) return 0;
    DWORD length;
    std::memcpy(&length, BlockOf(bstr), kPrefix);
    return length;
}

UINT SysStringLen(BSTR bstr) {
    return SysStringByteLen(bstr) / sizeof(OLECHAR);
}
