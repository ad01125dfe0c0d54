// Client certificates: the store texts and where they lead, choosing by
// friendly name or subject, and a server that requires a certificate.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "resources/errors.h"
#include "tls/client_certificate.h"
#include "tls_test_support.h"

namespace {

using tls::ResolveCertificateStore;
using tls::StoreLocation;
using tlstest::Client;
using tlstest::Credentials;
using tlstest::ServerConfig;
using tlstest::TestPki;
using tlstest::TlsTestServer;

StoreLocation Resolve(const char* store, uint32_t location = 0) {
    TlsCredentials record{};
    record.certificateStore = const_cast<char*>(store);
    record.location = location;
    return ResolveCertificateStore(record);
}

// Prefixes and store names lead to folders under the system or the user
// configuration (under HOME without XDG_CONFIG_HOME); names that leave their
// root are refused; existing files and folders are used as they are.
TEST(CertificateStoreText, StoresLeadToFoldersFilesOrNothing) {
    tlstest::ScopedEnv home("HOME", "/home/u");
    tlstest::ScopedEnv config("XDG_CONFIG_HOME", "/home/u/.cfg");
    const std::string folder = tlstest::NewFolder("resolve");
    const std::string file = folder + "/id.p12";
    tlstest::WritePkcs12(file, TestPki().client, "x", "");
    using Kind = StoreLocation::Kind;
    struct Case {
        const char* store;
        uint32_t location;
        Kind kind;
        std::string path;
    } cases[] = {
        {"HKLM:Root", 0, Kind::Folder, "/etc/tollane/certs/Root"},
        {"hklm:", 0, Kind::Folder, "/etc/tollane/certs/MY"},
        {"HKCU:Work", 0, Kind::Folder, "/home/u/.cfg/tollane/certs/Work"},
        {"HKCU:", 2, Kind::Folder, "/home/u/.cfg/tollane/certs/MY"},
        {"", 0, Kind::Folder, "/home/u/.cfg/tollane/certs/MY"},
        {"Mine", 0, Kind::Folder, "/home/u/.cfg/tollane/certs/Mine"},
        {"Mine", TLS_STORE_LOCAL_MACHINE, Kind::Folder, "/etc/tollane/certs/Mine"},
        {"HKCU:../x", 0, Kind::Invalid, ""},
        {"HKLM:a/b", 0, Kind::Invalid, ""},
        {"sub/dir-that-is-missing", 0, Kind::Invalid, ""},
        {folder.c_str(), 0, Kind::Folder, folder},
        {file.c_str(), 0, Kind::Pkcs12File, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.store);
        StoreLocation location = Resolve(c.store, c.location);
        EXPECT_EQ(location.kind, c.kind);
        if (!c.path.empty()) {
            EXPECT_EQ(location.path, c.path);
        }
    }
    tlstest::ScopedEnv noConfig("XDG_CONFIG_HOME", "");
    EXPECT_EQ(Resolve("").path, "/home/u/.config/tollane/certs/MY");
}

class RequiredClientCertificate : public ::testing::TestWithParam<int> {};

// The server requires a certificate and must see ours, at the given version.
void ExpectServerSeesOurCertificate(int version, const TlsCredentials* record) {
    ServerConfig config;
    config.requireClientCertificate = true;
    config.lowestVersion = config.highestVersion = version;
    TlsTestServer server(config);
    {
        Client client(server.port(), record);
        ASSERT_EQ(client.Handshake(), 1) << TlsGetLastError();
        EXPECT_EQ(client.RoundTrip("PWD\r\n"), "PWD\r\n");
    }
    server.Join();
    ASSERT_FALSE(server.clientSubjects.empty());
    EXPECT_NE(server.clientSubjects[0].find("CN=fttest client"), std::string::npos)
        << server.clientSubjects[0];
}

// Each kind of store gives the server the certificate it requires: a PKCS #12
// file chosen by friendly name (with and without its password), a folder of PEM
// files searched by subject past another client's, and the user store under
// XDG_CONFIG_HOME by file name.
TEST_P(RequiredClientCertificate, EachStoreKindGivesTheCertificate) {
    const std::string p12 = tlstest::NewFolder("p12") + "/client.p12";
    tlstest::WritePkcs12(p12, TestPki().client, "Test Client", "");
    const std::string pfx = tlstest::NewFolder("p12pw") + "/client.pfx";
    tlstest::WritePkcs12(pfx, TestPki().client, "Test Client", "s3cret");
    const std::string pem = tlstest::NewFolder("pem");
    tlstest::WritePem(pem + "/a-other.pem", TestPki().otherClient, true);
    tlstest::WritePem(pem + "/b-mine.pem", TestPki().client, false);
    tlstest::WritePem(pem + "/b-mine.key.tmp", TestPki().client, true);
    std::rename((pem + "/b-mine.key.tmp").c_str(), (pem + "/b-mine.key").c_str());
    const std::string config = tlstest::NewFolder("xdg");
    const std::string store = config + "/tollane/certs/MY";
    std::filesystem::create_directories(store);
    tlstest::WritePem(store + "/someone.pem", TestPki().otherClient, true);
    tlstest::WritePem(store + "/mine.pem", TestPki().client, true);
    tlstest::ScopedEnv xdg("XDG_CONFIG_HOME", config);

    const struct {
        const char* store;
        const char* name;
        const char* password;
    } rows[] = {{p12.c_str(), "test client", nullptr},
                {pfx.c_str(), "Test Client", "s3cret"},
                {pem.c_str(), "FTTEST", nullptr},
                {"", "Mine", nullptr}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.store);
        Credentials credentials(0, row.store, row.name);
        TlsCredentials record = *credentials.record;
        record.pfxPassword = const_cast<char*>(row.password);
        ExpectServerSeesOurCertificate(GetParam(), &record);
        if (!row.password) continue;
        // Without the password the file cannot be read: no credentials.
        EXPECT_TRUE(tlstest::AcquireFails(credentials.record));
    }
}

TEST_P(RequiredClientCertificate, WithoutACertificateTheServerRefuses) {
    Credentials credentials;
    ServerConfig config;
    config.requireClientCertificate = true;
    config.lowestVersion = config.highestVersion = GetParam();
    TlsTestServer server(config);
    Client client(server.port(), credentials.record);
    if (GetParam() == TLS1_2_VERSION) {
        EXPECT_EQ(client.Handshake(), 0);
        EXPECT_EQ(TlsGetLastError(), fileErrorSecurityContext);
    } else {
        // TLS 1.3 finishes the client's side first; the refusal is the next record.
        ASSERT_EQ(client.Handshake(), 1);
        char buffer[8];
        EXPECT_EQ(TlsEncrypt(client.channel(), "PWD\r\n", 5), 5);
        EXPECT_EQ(TlsDecrypt(client.channel(), buffer, sizeof buffer), -1);
        EXPECT_EQ(TlsGetLastError(), fileErrorSecurityDecryption);
    }
}

INSTANTIATE_TLS_VERSIONS(RequiredClientCertificate);

// A name that matches nothing, a store that does not exist, a certificate
// without its key; and the errors of a PKCS #12 file: missing, not PKCS #12, a
// wrong password, no name at all for the PFX-file location.
TEST(ClientCertificateChoice, NothingUsableGivesNoCredentialsWithTheStoresError) {
    std::string folder = tlstest::NewFolder("nomatch");
    tlstest::WritePem(folder + "/mine.pem", TestPki().client, true);
    std::string noKey = tlstest::NewFolder("nokey");
    tlstest::WritePem(noKey + "/mine.pem", TestPki().client, false);
    const std::string pfx = folder + "/locked.pfx";
    tlstest::WritePkcs12(pfx, TestPki().client, "mine", "right");
    const struct {
        std::string store;
        uint32_t location;
        int error;
    } cases[] = {
        {folder, 0, fileErrorSecurityCredentials},
        {"HKCU:DoesNotExist", 0, fileErrorSecurityCredentials},
        {noKey, 0, fileErrorSecurityCredentials},
        {folder + "/missing.pfx", TLS_STORE_PFX_FILE, fileErrorFileNotFound},
        {folder + "/mine.pem", 0, fileErrorInvalidFileType},
        {pfx, TLS_STORE_PFX_FILE, fileErrorSecurityCredentials},
        {"", TLS_STORE_PFX_FILE, fileErrorInvalidFileName},
    };
    for (const auto& c : cases) {
        Credentials credentials(0, c.store.c_str(), c.location == 0 ? "nobody at all" : "mine");
        TlsCredentials record = *credentials.record;
        record.location = c.location;
        record.pfxPassword = const_cast<char*>("wrong");
        EXPECT_TRUE(tlstest::AcquireFails(&record, c.error)) << c.store;
    }
}

// The named certificate comes from an issuer the server does not accept: the
// store's certificate for client authentication from an accepted issuer goes
// instead, and the server sees it.
TEST(ClientCertificateChoice, AServerThatAcceptsOtherIssuersGetsOneOfThoseFromTheStore) {
    std::string folder = tlstest::NewFolder("issuers");
    tlstest::WritePem(folder + "/a-stranger.pem", TestPki().strangerClient, true);
    tlstest::WritePem(folder + "/b-server.pem", TestPki().valid, true);  // not for clients
    tlstest::WritePem(folder + "/c-mine.pem", TestPki().client, true);
    Credentials credentials(0, folder.c_str(), "stranger");
    ExpectServerSeesOurCertificate(TLS1_2_VERSION, credentials.record);
    ExpectServerSeesOurCertificate(TLS1_3_VERSION, credentials.record);
}

}  // namespace
