// known_hosts: the matcher over a table of files (plain, hashed names made with
// libcrypto's HMAC, [host]:port, lists, wildcards, negation, markers, comments,
// malformed and overlong lines), recording a new host, and the policy applied to
// a scripted server's key before authentication.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "crypto/base64.h"
#include "crypto/pubkey.h"
#include "crypto/sshbuf.h"
#include "fake_ssh2_server.h"
#include "resources/errors.h"
#include "ssh/known_hosts.h"
#include "ssh/messages.h"
#include "ssh/session.h"
#include "support/test_files.h"

using testssh::FakeSsh2Server;

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

TEST(KnownHostsTest, HashedNameMatchesLibcrypto) {
    const std::uint8_t salt[20] = {5,   18,  31,  44,  57,  70,  83,  96,  109, 122,
                                   135, 148, 161, 174, 187, 200, 213, 226, 239, 252};
    EXPECT_EQ(HashKnownHostName("[127.0.0.1]:2222", salt), OpensslHashedName("[127.0.0.1]:2222"));
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

// ---- The policy against a scripted server --------------------------------------
// The refusals only: what is let through (a new host recorded, a known one, the check
// turned off) is cli_host_key_test's against the real server.

struct PolicyCase {
    const char* name;
    SshHostKeyPolicy policy;
    const char* file;  // {KEY}: the server's key, {OTHER}: another RSA key
    int result;
    SshHostKeyStatus status;
    const char* textHas;
};

const PolicyCase kPolicies[] = {
    {"strict refuses an unknown host", SshHostKeyPolicy::Strict, "", fileErrorSecurityHostKey,
     SshHostKeyStatus::Unknown, "no host key is known"},
    {"changed key refused with the old entry", SshHostKeyPolicy::AcceptNew,
     "# first\n127.0.0.1 {OTHER}\n", fileErrorSecurityHostKey, SshHostKeyStatus::Changed,
     "has changed; the old key is at "},
    {"revoked key refused", SshHostKeyPolicy::AcceptNew, "@revoked 127.0.0.1 {KEY}\n",
     fileErrorSecurityHostKey, SshHostKeyStatus::Revoked, "revoked"},
    {"certificate authority refused", SshHostKeyPolicy::AcceptNew,
     "@cert-authority 127.0.0.1 {OTHER}\n", fileErrorSecurityHostKey,
     SshHostKeyStatus::NotVerifiable, "certificates are not supported"},
};

// The server's key, read from a connection that does not check it.
Blob ServerKey() {
    FakeSsh2Server server([](FakeSsh2Server& s) { s.ReceiveType(kSshMsgServiceRequest); });
    SshConfig config = FakeSsh2Server::ClientConfig();
    SshConnection connection(config, server.TakeClientSocket());
    EXPECT_TRUE(connection.WaitForKeys());
    Blob key(connection.hostKeyBlob().begin(), connection.hostKeyBlob().end());
    connection.CloseQuietly();
    server.Finish();
    return key;
}

void Replace(std::string& text, std::string_view mark, const std::string& value) {
    for (std::size_t at; (at = text.find(mark)) != std::string::npos;)
        text.replace(at, mark.size(), value);
}

TEST(KnownHostsTest, PolicyDecidesBeforeAuthentication) {
    const Blob key = ServerKey();
    ASSERT_FALSE(key.empty());
    const std::string other = "ssh-rsa " + Base64Encode(kRsaKey);
    ScratchFolder dir("known-hosts");
    for (const PolicyCase& c : kPolicies) {
        SCOPED_TRACE(c.name);
        const std::string file = dir.path().string() + "/known_hosts";
        std::string text = c.file;
        Replace(text, "{KEY}", "ssh-rsa " + Base64Encode(key));
        Replace(text, "{OTHER}", other);
        std::ofstream(file, std::ios::trunc) << text;
        std::pair<std::uint32_t, std::string> disconnect{0, ""};
        FakeSsh2Server server([&](FakeSsh2Server& s) {
            std::optional<SecureBytes> first = s.Receive();
            if (!first || first->empty()) return s.Fail("nothing after the key exchange");
            if ((*first)[0] == kSshMsgDisconnect) {
                SshReader reader(std::span<const std::uint8_t>(*first).subspan(1));
                std::string_view description;
                EXPECT_TRUE(reader.ReadUint32(&disconnect.first));
                EXPECT_TRUE(reader.ReadString(&description));
                disconnect.second = description;
            }
        });
        SshConfig config = FakeSsh2Server::ClientConfig();
        config.hostKeyPolicy = c.policy;
        config.knownHostsFile = file;
        SshSession session(config,
                           std::make_unique<SshConnection>(config, server.TakeClientSocket()));
        const int result = session.WaitUntilReady();
        server.Finish();
        EXPECT_EQ(session.hostKey().status, c.status);
        EXPECT_NE(session.hostKey().text.find(c.textHas), std::string::npos)
            << session.hostKey().text;
        EXPECT_EQ(result, c.result);
        // Refused before the service request or any authentication packet.
        EXPECT_EQ(disconnect.first, kSshDisconnectHostKeyNotVerifiable);
        EXPECT_EQ(disconnect.second, "Host key verification failed");
        for (const FakeSsh2Server::Received& packet : server.received()) {
            const bool transport = packet.type < kSshMsgServiceRequest ||
                                   (packet.type >= kSshMsgKexinit && packet.type < 50);
            EXPECT_TRUE(transport) << int(packet.type);
        }
        EXPECT_NE(session.errorText().find(PublicKeySha256Fingerprint(key)), std::string::npos)
            << session.errorText();
        EXPECT_TRUE(session.closed());
    }
}

}  // namespace
