#include "http/encoding.h"

#include <cctype>
#include <cstddef>
#include <string_view>

#include "http/http.h"
#include "resources/errors.h"

namespace {

constexpr std::string_view kUnsafe = "!\"#$'()*+,:;<>?@[\\]^`{|}";
constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

bool IsHex(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

bool IsEscape(std::string_view text, std::size_t at) {
    return at + 2 < text.size() && IsHex(text[at + 1]) && IsHex(text[at + 2]);
}

bool IsUnsafe(char c) {
    return kUnsafe.find(c) != std::string_view::npos;
}

bool AlwaysEncoded(unsigned char c) {
    return c < 0x21 || c > 0x7E || IsUnsafe(static_cast<char>(c));
}

bool MustEncode(int mode, std::string_view text, std::size_t at) {
    const char c = text[at];
    switch (c) {
        case ' ':
            return mode != HTTP_ENCODE_FORM;
        case '%':
            return !IsEscape(text, at);
        case '&':
        case '=':
            return mode == HTTP_ENCODE_PATH;
        case '-':
        case '.':
        case '/':
        case '_':
            return mode == HTTP_ENCODE_QUERY;
        default:
            return AlwaysEncoded(static_cast<unsigned char>(c));
    }
}

// Appends within the output's capacity (the NUL included).
class OutputWriter {
  public:
    OutputWriter(char* output, int size) : output_(output), size_(static_cast<std::size_t>(size)) {}
    bool Put(char c) {
        if (length_ + 1 >= size_) return false;
        output_[length_++] = c;
        return true;
    }
    int Finish() {
        output_[length_] = '\0';
        return static_cast<int>(length_);
    }

  private:
    char* output_;
    std::size_t size_;
    std::size_t length_ = 0;
};

int Percent(int mode, std::string_view input, OutputWriter& out) {
    for (std::size_t i = 0; i < input.size(); ++i) {
        const auto c = static_cast<unsigned char>(input[i]);
        const bool ok = MustEncode(mode, input, i) ? out.Put('%') && out.Put(kHexDigits[c >> 4]) &&
                                                         out.Put(kHexDigits[c & 15])
                                                   : out.Put(static_cast<char>(c));
        if (!ok) return -1;
    }
    return out.Finish();
}

int Base64(std::string_view input, OutputWriter& out) {
    for (std::size_t i = 0; i < input.size(); i += 3) {
        const std::size_t left = input.size() - i;
        std::uint32_t group = static_cast<unsigned char>(input[i]) << 16;
        if (left > 1) group |= static_cast<unsigned char>(input[i + 1]) << 8;
        if (left > 2) group |= static_cast<unsigned char>(input[i + 2]);
        const char quad[4] = {kBase64Alphabet[(group >> 18) & 63],
                              kBase64Alphabet[(group >> 12) & 63],
                              left > 1 ? kBase64Alphabet[(group >> 6) & 63] : '=',
                              left > 2 ? kBase64Alphabet[group & 63] : '='};
        for (char c : quad) {
            if (!out.Put(c)) return -1;
        }
    }
    return out.Finish();
}

int Fail(int error) {
    HttpSetLastError(static_cast<DWORD>(error));
    return -1;
}

}  // namespace

extern "C" {

int HttpNeedsEncoding(const char* text, int length) {
    if (!text) return 0;
    std::string_view view = length < 0 ? std::string_view(text)
                                       : std::string_view(text, static_cast<std::size_t>(length));
    for (std::size_t i = 0; i < view.size(); ++i) {
        const char c = view[i];
        if (c == '+') continue;
        if (c == '%' ? !IsEscape(view, i) : AlwaysEncoded(static_cast<unsigned char>(c))) return 1;
    }
    return 0;
}

int HttpEncode(int mode, const char* input, int inputLength, char* output, int outputSize) {
    if (!input || inputLength < 0 || !output || outputSize < 1) {
        return Fail(fileErrorInvalidParameter);
    }
    if (mode < HTTP_ENCODE_BASE64 || mode > HTTP_ENCODE_FORM) {
        return Fail(fileErrorInvalidParameter);
    }
    if (outputSize < inputLength + inputLength / 2 + 1) return Fail(fileErrorBufferTooSmall);
    std::string_view view(input, static_cast<std::size_t>(inputLength));
    OutputWriter out(output, outputSize);
    const int written = mode == HTTP_ENCODE_BASE64 ? Base64(view, out) : Percent(mode, view, out);
    return written < 0 ? Fail(fileErrorBufferTooSmall) : written;
}

}  // extern "C"
