// Texts of certificate names, and the case-insensitive comparisons used to
// pick a client certificate.
#include <openssl/bio.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cctype>

#include "tls/channel.h"

namespace tls {
namespace {

char Lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

// Most specific part first, ", " between parts and " + " inside a multi-valued
// part, short attribute names, UTF-8 kept as it is.
constexpr unsigned long kNameFlags = XN_FLAG_SEP_CPLUS_SPC | XN_FLAG_DN_REV | XN_FLAG_FN_SN |
                                     (ASN1_STRFLGS_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);

}  // namespace

std::string NameText(const X509_NAME* name) {
    if (!name) return {};
    BIO* out = BIO_new(BIO_s_mem());
    if (!out) return {};
    std::string text;
    if (X509_NAME_print_ex(out, name, 0, kNameFlags) >= 0) {
        char* data = nullptr;
        long length = BIO_get_mem_data(out, &data);
        if (length > 0) text.assign(data, static_cast<std::size_t>(length));
    }
    BIO_free(out);
    return text;
}

bool ContainsIgnoringCase(std::string_view text, std::string_view part) {
    auto found = std::search(text.begin(), text.end(), part.begin(), part.end(),
                             [](char x, char y) { return Lower(x) == Lower(y); });
    return found != text.end() || part.empty();
}

}  // namespace tls
