#include "tls_test_support.h"

#include "resources/errors.h"
#include "support/loopback_socket.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace tlstest {
namespace {

constexpr long kDay = 24 * 60 * 60;
constexpr int kServerWaitMs = 10000;

// The runtime is started once for the whole program.
class NetEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        // The test server writes with plain sockets to clients that may be gone.
        signal(SIGPIPE, SIG_IGN);
        ASSERT_EQ(NetStartup(nullptr), 0);
        ASSERT_EQ(TlsBindProvider(), 1);
        TestPki();
    }
    void TearDown() override { NetCleanup(); }
};
[[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment(new NetEnvironment);

EVP_PKEY* NewKey() {
    return EVP_EC_gen("P-256");
}

void AddExtension(X509* certificate, X509* issuer, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    ASSERT_NE(extension, nullptr) << value;
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

struct CertificateProfile {
    const char* commonName;
    const char* altNames = nullptr;  // subjectAltName value
    const char* usage = nullptr;     // extendedKeyUsage value
    bool authority = false;
    long notBefore = -kDay;
    long notAfter = 30 * kDay;
};

Identity Make(const CertificateProfile& profile, const Identity* issuer) {
    static long serial = 1000;
    Identity made;
    made.key = NewKey();
    X509* certificate = X509_new();
    made.certificate = certificate;
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), ++serial);
    X509_gmtime_adj(X509_getm_notBefore(certificate), profile.notBefore);
    X509_gmtime_adj(X509_getm_notAfter(certificate), profile.notAfter);
    X509_set_pubkey(certificate, made.key);
    X509_NAME* name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Channel Tests"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(profile.commonName), -1, -1,
                               0);
    X509* issuerCertificate = issuer ? issuer->certificate : certificate;
    X509_set_issuer_name(certificate, X509_get_subject_name(issuerCertificate));
    AddExtension(certificate, issuerCertificate, NID_basic_constraints,
                 profile.authority ? "critical,CA:TRUE" : "CA:FALSE");
    AddExtension(certificate, issuerCertificate, NID_subject_key_identifier, "hash");
    if (profile.authority)
        AddExtension(certificate, issuerCertificate, NID_key_usage, "critical,keyCertSign,cRLSign");
    if (profile.altNames)
        AddExtension(certificate, issuerCertificate, NID_subject_alt_name, profile.altNames);
    if (profile.usage)
        AddExtension(certificate, issuerCertificate, NID_ext_key_usage, profile.usage);
    X509_sign(certificate, issuer ? issuer->key : made.key, EVP_sha256());
    return made;
}

Pki* BuildPki() {
    auto* pki = new Pki;
    char pattern[] = "/tmp/tls-test-XXXXXX";
    pki->folder = mkdtemp(pattern);
    pki->ca = Make({"Channel Test CA", nullptr, nullptr, true}, nullptr);
    const char* local = "DNS:localhost,IP:127.0.0.1";
    pki->valid = Make({"localhost", local, "serverAuth"}, &pki->ca);
    pki->wrongName = Make({"other.example", "DNS:other.example", "serverAuth"}, &pki->ca);
    pki->expired = Make({"localhost", local, "serverAuth", false, -10 * kDay, -kDay}, &pki->ca);
    pki->selfSigned = Make({"localhost", local, "serverAuth"}, nullptr);
    pki->client = Make({"fttest client", nullptr, "clientAuth"}, &pki->ca);
    pki->otherClient = Make({"someone else", nullptr, "clientAuth"}, &pki->ca);
    pki->strangerClient = Make({"stranger", nullptr, "clientAuth"}, nullptr);
    std::string caFile = pki->folder + "/ca.pem";
    WritePem(caFile, pki->ca, false);
    // Only the test CA is trusted: an empty folder replaces the system's.
    std::string emptyFolder = pki->folder + "/no-certs";
    std::filesystem::create_directory(emptyFolder);
    setenv("SSL_CERT_FILE", caFile.c_str(), 1);
    setenv("SSL_CERT_DIR", emptyFolder.c_str(), 1);
    return pki;
}

int WaitFor(int socket, short events) {
    pollfd entry{socket, events, 0};
    return poll(&entry, 1, kServerWaitMs);
}

// Reads until the client closes (or the wait ends).
void DrainUntilClosed(int socket) {
    char buffer[4096];
    while (WaitFor(socket, POLLIN) > 0 && recv(socket, buffer, sizeof buffer, 0) > 0) {
    }
}

}  // namespace

const Pki& TestPki() {
    static const Pki* pki = BuildPki();
    return *pki;
}

void WritePem(const std::string& path, const Identity& identity, bool withKey) {
    FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    PEM_write_X509(file, identity.certificate);
    if (withKey) PEM_write_PrivateKey(file, identity.key, nullptr, nullptr, 0, nullptr, nullptr);
    std::fclose(file);
}

void WritePkcs12(const std::string& path, const Identity& identity, const char* friendlyName,
                 const char* password) {
    PKCS12* bundle = PKCS12_create(password, friendlyName, identity.key, identity.certificate,
                                   nullptr, 0, 0, 0, 0, 0);
    ASSERT_NE(bundle, nullptr);
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    i2d_PKCS12_fp(file, bundle);
    std::fclose(file);
    PKCS12_free(bundle);
}

std::string NewFolder(const std::string& name) {
    std::string path = TestPki().folder + "/" + name;
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
    return path;
}

TlsTestServer::TlsTestServer(ServerConfig config) : config_(std::move(config)) {
    const Identity* identity = config_.identity ? config_.identity : &TestPki().valid;
    ctx_ = SSL_CTX_new(TLS_server_method());
    SSL_CTX_set_min_proto_version(ctx_, config_.lowestVersion);
    SSL_CTX_set_max_proto_version(ctx_, config_.highestVersion);
    SSL_CTX_use_certificate(ctx_, identity->certificate);
    SSL_CTX_use_PrivateKey(ctx_, identity->key);
    static const unsigned char kContext[] = "tls-tests";
    SSL_CTX_set_session_id_context(ctx_, kContext, sizeof kContext - 1);
    if (config_.requireClientCertificate) {
        X509_STORE_add_cert(SSL_CTX_get_cert_store(ctx_), TestPki().ca.certificate);
        SSL_CTX_add_client_CA(ctx_, TestPki().ca.certificate);
        SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    }
    int port = 0;
    listener_ = testsupport::ListenOnLoopback(&port);
    port_ = static_cast<uint16_t>(port);
    thread_ = std::thread([this] { Run(); });
}

TlsTestServer::~TlsTestServer() {
    Join();
    close(listener_);
    SSL_CTX_free(ctx_);
}

void TlsTestServer::Join() {
    if (thread_.joinable()) thread_.join();
}

// Each client gets a thread of its own: a data connection arrives while its
// control connection is still being served.
void TlsTestServer::Run() {
    std::vector<std::thread> workers;
    resumed.assign(static_cast<std::size_t>(config_.connections), 0);
    clientSubjects.assign(static_cast<std::size_t>(config_.connections), "");
    for (int served = 0; served < config_.connections; ++served) {
        if (WaitFor(listener_, POLLIN) <= 0) break;
        int socket = accept(listener_, nullptr, nullptr);
        if (socket < 0) break;
        timeval limit{kServerWaitMs / 1000, 0};
        setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        workers.emplace_back([this, socket, served] {
            Serve(socket, static_cast<std::size_t>(served));
            close(socket);
            ERR_clear_error();
        });
    }
    for (std::thread& worker : workers)
        worker.join();
}

void TlsTestServer::Serve(int socket, std::size_t index) {
    char hello[4096];
    bool plain = config_.behaviour == Behaviour::Stall || config_.behaviour == Behaviour::Garbage ||
                 config_.behaviour == Behaviour::HangUp;
    if (plain) {
        if (WaitFor(socket, POLLIN) > 0) (void)!recv(socket, hello, sizeof hello, 0);
        if (config_.behaviour == Behaviour::HangUp) return;
        if (config_.behaviour == Behaviour::Garbage) {
            std::string junk(300, '\x7f');
            (void)!send(socket, junk.data(), junk.size(), MSG_NOSIGNAL);
        }
        DrainUntilClosed(socket);
        return;
    }
    SSL* ssl = SSL_new(ctx_);
    SSL_set_fd(ssl, socket);
    if (SSL_accept(ssl) != 1) {
        failedHandshakes.fetch_add(1);
        SSL_free(ssl);
        DrainUntilClosed(socket);
        return;
    }
    resumed[index] = SSL_session_reused(ssl);
    X509* peer = SSL_get0_peer_certificate(ssl);
    char subject[256] = "";
    if (peer) X509_NAME_oneline(X509_get_subject_name(peer), subject, sizeof subject);
    clientSubjects[index] = subject;
    if (config_.behaviour == Behaviour::Echo) {
        char buffer[16384];
        int got;
        while ((got = SSL_read(ssl, buffer, sizeof buffer)) > 0) {
            if (SSL_write(ssl, buffer, got) != got) break;
        }
        SSL_shutdown(ssl);
    } else if (config_.behaviour == Behaviour::Sink) {
        // One SSL_read never returns more than one record.
        char buffer[65536];
        int got;
        while ((got = SSL_read(ssl, buffer, sizeof buffer)) > 0)
            recordSizes.push_back(got);
        SSL_shutdown(ssl);
    } else {
        SSL_write(ssl, config_.greeting.data(), static_cast<int>(config_.greeting.size()));
        if (config_.behaviour == Behaviour::GreetThenClose) SSL_shutdown(ssl);
        if (config_.behaviour == Behaviour::GreetThenHangUp) shutdown(socket, SHUT_WR);
        if (config_.behaviour == Behaviour::GreetThenClear) {
            // Ours first, then wait for the client's; the socket carries on in clear.
            if (SSL_shutdown(ssl) == 0) SSL_shutdown(ssl);
            (void)!send(socket, config_.clearText.data(), config_.clearText.size(), MSG_NOSIGNAL);
        }
        DrainUntilClosed(socket);
    }
    SSL_free(ssl);
}

Client::Client(uint16_t port, const TlsCredentials* credentials, int timeoutSeconds,
               uint32_t options, const char* hostName) {
    NetAddress address{};
    EXPECT_EQ(NetParseAddress("127.0.0.1", 0, &address), NET_FAMILY_IPV4);
    socket_ = NetConnectAddress(&address, port, 5);
    EXPECT_NE(socket_, INVALID_SOCKET);
    channel_ = TlsCreateChannel(socket_, hostName, credentials, timeoutSeconds, options);
    EXPECT_NE(channel_, nullptr);
}

Client::~Client() {
    TlsFreeChannel(channel_);
    if (socket_ != INVALID_SOCKET) NetCloseSocket(socket_);
}

int Client::Handshake() {
    return TlsAcquireCredentials(channel_) && TlsStartHandshake(channel_) &&
           TlsHandshakeLoop(channel_);
}

std::string Client::RoundTrip(const std::string& text, int piece) {
    if (TlsEncrypt(channel_, text.data(), static_cast<int>(text.size())) !=
        static_cast<int>(text.size())) {
        ADD_FAILURE() << "TlsEncrypt failed with " << TlsGetLastError();
        return {};
    }
    std::string echoed;
    std::vector<char> buffer(static_cast<std::size_t>(piece));
    while (echoed.size() < text.size()) {
        int got = TlsDecrypt(channel_, buffer.data(), piece);
        if (got <= 0) {
            ADD_FAILURE() << "TlsDecrypt gave " << got << " error " << TlsGetLastError();
            break;
        }
        echoed.append(buffer.data(), static_cast<std::size_t>(got));
    }
    return echoed;
}

std::string Client::ReadAll(int piece) {
    std::string all;
    std::vector<char> buffer(static_cast<std::size_t>(piece));
    for (int rounds = 0; rounds < 100000; ++rounds) {
        int got = TlsDecrypt(channel_, buffer.data(), piece);
        if (got <= 0) break;
        all.append(buffer.data(), static_cast<std::size_t>(got));
    }
    return all;
}

bool AcquireFails(const TlsCredentials* record, int error) {
    TlsChannel* channel = TlsCreateChannel(INVALID_SOCKET, "localhost", record, 1, 0);
    const bool failed = TlsAcquireCredentials(channel) == 0 && TlsGetLastError() == error;
    TlsFreeChannel(channel);
    return failed;
}

Credentials::Credentials(uint32_t protocol, const char* store, const char* name) {
    EXPECT_EQ(TlsCreateCredentials(protocol, store, name, &record), 1);
}

Credentials::~Credentials() {
    TlsFreeCredentials(&record);
}

}  // namespace tlstest
