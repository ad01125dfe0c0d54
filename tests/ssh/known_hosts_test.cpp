// known_hosts: the matcher over a table of files (plain, hashed names made with
// libcrypto's HMAC, [host]:port, lists, wildcards, negation, markers, comments,
// malformed and overlong lines) and recording a new host. The policy's refusals
// are sshd_login_test's against the real server.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "crypto/base64.h"
#include "crypto/sshbuf.h"
#include "ssh/known_hosts.h"
#include "support/test_files.h"

namespace {

using Blob = std::vector<std::uint8_t>;

Blob KeyBlob(std::string_view type, std::uint8_t fill) {
    SshWriter w;
    w.PutString(type);
    const Blob key(32, fill);
    w.PutString(key);
    return {w.data().begin(), w.data().end()};
}

const Blob kKeyA = KeyBlob("ssh-ed25519", 0xA1);
const Blob kKeyB = KeyBlob("ssh-ed25519", 0xB2);
const Blob kRsaKey = KeyBlob("ssh-rsa", 0xC3);

// "|1|salt|hmac" computed by libcrypto, independently of the code under test.
std::string OpensslHashedName(std::string_view name) {
    unsigned char salt[20];
    for (unsigned i = 0; i < sizeof salt; ++i)
        salt[i] = static_cast<unsigned char>(i * 13 + 5);
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    HMAC(EVP_sha1(), salt, sizeof salt, reinterpret_cast<const unsigned char*>(name.data()),
         name.size(), mac, &length);
    return "|1|" + Base64Encode(Blob(salt, salt + sizeof salt)) + "|" +
           Base64Encode(Blob(mac, mac + length));
}

// {A}, {B}, {RSA}: "type base64" of the keys; {H:name}: the hashed name.
std::string Expand(std::string text) {
    const std::pair<const char*, const Blob*> keys[] = {
        {"{A}", &kKeyA}, {"{B}", &kKeyB}, {"{RSA}", &kRsaKey}};
    for (const auto& [mark, blob] : keys) {
        const std::string value = KeyTypeOfBlob(*blob) + " " + Base64Encode(*blob);
        for (std::size_t at; (at = text.find(mark)) != std::string::npos;)
            text.replace(at, std::string_view(mark).size(), value);
    }
    for (std::size_t at; (at = text.find("{H:")) != std::string::npos;) {
        const std::size_t end = text.find('}', at);
        text.replace(at, end + 1 - at, OpensslHashedName(text.substr(at + 3, end - at - 3)));
    }
    return text;
}

// The deciding entry is in the "system" file when that one is given, else in "user".
struct LookupCase {
    const char* name;
    const char* user;
    const char* host;
    std::uint16_t port;
    KnownHostResult result;
    std::size_t line;  // of the deciding entry
    const char* system = "";
};

const std::string kOverlong = "127.0.0.1 {A} " + std::string(kKnownHostsMaxLine, 'x');

using enum KnownHostResult;
const LookupCase kLookups[] = {
    {"plain", "127.0.0.1 {A}", "127.0.0.1", 22, Known, 1},
    {"plain entry is for port 22 only", "127.0.0.1 {A}", "127.0.0.1", 2222, Unknown, 0},
    {"bracketed port", "127.0.0.1 {B}\n[127.0.0.1]:2222 {A}", "127.0.0.1", 2222, Known, 2},
    {"bracketed port is not port 22", "[127.0.0.1]:2222 {A}", "127.0.0.1", 22, Unknown, 0},
    {"list", "127.0.0.2,[127.0.0.1]:2222,localhost {A}", "localhost", 22, Known, 1},
    {"star", "127.0.0.* {A}", "127.0.0.9", 22, Known, 1},
    {"question mark", "[127.0.0.?]:2222 {A}", "127.0.0.10", 2222, Unknown, 0},
    {"negation excludes the line", "127.0.0.*,!127.0.0.3 {A}", "127.0.0.3", 22, Unknown, 0},
    {"negation leaves others", "!127.0.0.3,127.0.0.* {A}", "127.0.0.4", 22, Known, 1},
    {"case-insensitive", "LocalHost {A}", "LOCALHOST", 22, Known, 1},
    {"hashed", "{H:[127.0.0.1]:2222} {A}", "127.0.0.1", 2222, Known, 1},
    {"hashed other host", "{H:127.0.0.2} {A}", "127.0.0.1", 22, Unknown, 0},
    {"changed", "# old\n127.0.0.1 {B}", "127.0.0.1", 22, Changed, 2},
    {"other type is not a change", "127.0.0.1 {RSA}", "127.0.0.1", 22, Unknown, 0},
    {"known wins over changed", "127.0.0.1 {B}\n127.0.0.1 {A}", "127.0.0.1", 22, Known, 2},
    {"revoked wins", "127.0.0.1 {A}\n@revoked * {A}", "127.0.0.1", 22, Revoked, 2},
    {"revoked other key", "@revoked 127.0.0.1 {B}\n127.0.0.1 {A}", "127.0.0.1", 22, Known, 2},
    {"certificate authority only", "@cert-authority 127.0.0.* {B}", "127.0.0.1", 22,
     CertificateAuthorityOnly, 1},
    {"comments, blanks, CRLF and trailing comment", "# c\n\n   \t\r\n127.0.0.1 {A} me@x\r\n",
     "127.0.0.1", 22, Known, 4},
    {"malformed lines skipped",
     "127.0.0.1 ssh-ed25519\n127.0.0.1 ssh-ed25519 !!!!\n@bogus 127.0.0.1 {A}\n"
     "127.0.0.1 ssh-rsa AAAAC3NzaC1lZDI1NTE5\n127.0.0.1 {A}",
     "127.0.0.1", 22, Known, 5},
    {"overlong line skipped", kOverlong.c_str(), "127.0.0.1", 22, Unknown, 0},
    {"system file after the user file", "127.0.0.2 {B}", "127.0.0.1", 22, Known, 1,
     "127.0.0.1 {A}"},
    {"change reported from the system file", "", "127.0.0.1", 22, Changed, 1, "127.0.0.1 {B}"},
};

TEST(KnownHostsTest, LookupTable) {
    for (const LookupCase& c : kLookups) {
        const std::string user = Expand(c.user), system = Expand(c.system);
        const KnownHostsSource sources[] = {{"user", user}, {"system", system}};
        const KnownHostLookup found =
            LookupKnownHost(sources, KnownHostName(c.host, c.port), kKeyA);
        EXPECT_EQ(found.result, c.result) << c.name;
        EXPECT_EQ(found.line, c.line) << c.name;
        if (c.result != Unknown) {
            EXPECT_EQ(found.file, *c.system ? "system" : "user") << c.name;
        }
    }
}

TEST(KnownHostsTest, AppendCreatesPrivateDirectoryAndFile) {
    ScratchFolder dir("known-hosts");
    const std::string file = dir.path().string() + "/.ssh/known_hosts";
    ASSERT_EQ(AppendKnownHost(file, "[127.0.0.1]:2222", kKeyA), 0);
    struct stat info {};
    ASSERT_EQ(stat((dir.path().string() + "/.ssh").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(ReadFile(file), "[127.0.0.1]:2222 ssh-ed25519 " + Base64Encode(kKeyA) + "\n");
    // A last line without its line end is ended first.
    std::ofstream(file, std::ios::app) << "# note";
    ASSERT_EQ(AppendKnownHost(file, "127.0.0.1", kKeyB), 0);
    EXPECT_NE(ReadFile(file).find("# note\n127.0.0.1 ssh-ed25519 "), std::string::npos);
}

}  // namespace
