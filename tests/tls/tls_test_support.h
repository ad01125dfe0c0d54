// Shared pieces of the secure-channel tests: a private PKI made with libcrypto
// (a CA, server certificates good and bad, client certificates), an OpenSSL
// server on a loopback thread, and a client socket with its channel.
#pragma once

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/net.h"
#include "platform/messages.h"
#include "resources/errors.h"
#include "support/test_files.h"
#include "support/test_window.h"
#include "tls/tls.h"

namespace tlstest {

struct Identity {
    EVP_PKEY* key = nullptr;
    X509* certificate = nullptr;
};

// Generated once per program; the CA is trusted through SSL_CERT_FILE.
struct Pki {
    std::string folder;  // a private temporary folder
    Identity ca;
    Identity valid;           // localhost and 127.0.0.1
    Identity wrongName;       // other.example only
    Identity expired;         // localhost and 127.0.0.1, expired yesterday
    Identity selfSigned;      // localhost and 127.0.0.1, signed by itself
    Identity client;          // CN=fttest client, client authentication
    Identity otherClient;     // CN=someone else
    Identity strangerClient;  // CN=stranger, client authentication, signed by itself
};
const Pki& TestPki();

// Writes certificate (and key when given) as PEM.
void WritePem(const std::string& path, const Identity& identity, bool withKey);
// Writes an identity as PKCS#12 with a friendly name.
void WritePkcs12(const std::string& path, const Identity& identity, const char* friendlyName,
                 const char* password);
// A fresh empty folder under the PKI folder.
std::string NewFolder(const std::string& name);

enum class Behaviour {
    Echo,             // handshake, then send back every byte until the client ends
    Stall,            // read the client's hello and never answer
    Garbage,          // answer the client's hello with bytes that are not TLS
    HangUp,           // read the client's hello and close the connection
    GreetThenClose,   // handshake, send the greeting, then close-notify
    GreetThenHangUp,  // handshake, send the greeting, then close the socket
    GreetThenClear,   // greeting, close-notify both ways, then clear text
    Sink,             // handshake, then read every record until the client ends
};

struct ServerConfig {
    const Identity* identity = nullptr;  // default: the valid certificate
    int lowestVersion = TLS1_2_VERSION;
    int highestVersion = TLS1_3_VERSION;
    bool requireClientCertificate = false;
    Behaviour behaviour = Behaviour::Echo;
    int connections = 1;
    std::string greeting = "220 ready\r\n";
    std::string clearText = "200 in clear text\r\n";  // sent by GreetThenClear
};

// One OpenSSL server thread on 127.0.0.1; it serves `connections` clients one
// after the other. Every wait of the thread is bounded.
class TlsTestServer {
  public:
    explicit TlsTestServer(ServerConfig config);
    ~TlsTestServer();
    TlsTestServer(const TlsTestServer&) = delete;
    TlsTestServer& operator=(const TlsTestServer&) = delete;

    uint16_t port() const { return port_; }
    // Waits for the thread; the results below are complete afterwards.
    void Join();

    // Per connection in the order of arrival (1 when the session was resumed).
    std::vector<int> resumed;
    std::vector<std::string> clientSubjects;  // "" without a certificate
    std::vector<int> recordSizes;             // Sink: the plaintext of each record read
    std::atomic<int> failedHandshakes{0};

  private:
    void Run();
    void Serve(int socket, std::size_t index);

    ServerConfig config_;
    SSL_CTX* ctx_ = nullptr;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
};

// A client socket connected to 127.0.0.1:port with a channel over it.
class Client {
  public:
    Client(uint16_t port, const TlsCredentials* credentials, int timeoutSeconds = 5,
           uint32_t options = 0, const char* hostName = "127.0.0.1");
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    TlsChannel* channel() const { return channel_; }
    SOCKET socket() const { return socket_; }
    // Acquire, start and loop: 1 or 0 (TlsGetLastError has the reason).
    int Handshake();
    // Sends text and reads back exactly as many bytes, `piece` at a time.
    std::string RoundTrip(const std::string& text, int piece = 4096);
    // Reads until the end of the stream (or an error, returning what came).
    std::string ReadAll(int piece = 7);

  private:
    SOCKET socket_ = INVALID_SOCKET;
    TlsChannel* channel_ = nullptr;
};

// Credentials for a protocol mask with an optional client certificate.
struct Credentials {
    explicit Credentials(uint32_t protocol = TLS_PROTOCOL_DEFAULT, const char* store = nullptr,
                         const char* name = nullptr);
    ~Credentials();
    TlsCredentials* record = nullptr;
};

// Instantiates a suite whose parameter is the protocol version, at TLS 1.2 and 1.3.
#define INSTANTIATE_TLS_VERSIONS(suite)                                                            \
    INSTANTIATE_TEST_SUITE_P(                                                                      \
        Versions, suite, ::testing::Values(TLS1_2_VERSION, TLS1_3_VERSION), [](const auto& info) { \
            return std::string(info.param == TLS1_2_VERSION ? "Tls12" : "Tls13");                  \
        })

// Whether credentials made from the record cannot be acquired (the credentials
// error), on a channel without a socket.
bool AcquireFails(const TlsCredentials* record, int error = fileErrorSecurityCredentials);

using ::ScopedEnv;
using testsupport::NowMs;
using testsupport::TestWindow;

}  // namespace tlstest
