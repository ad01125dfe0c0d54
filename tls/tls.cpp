// Credentials and channel records. The record protocol itself is not in this
// build yet: the channel operations fail with a security error, so that a
// secure connect ends with a clear error instead of plain text on the wire.
//   - Binding succeeds: there is no provider library to load at run time.
//   - Acquiring credentials succeeds: it only remembers the record, so that the
//     engines' AUTH negotiation still runs before the handshake refuses.
//   - Handshake, validation, shutdown and security information fail with
//     fileErrorSecurityContext ("Unable to establish security context for this
//     session"); encryption and decryption with their own errors.
#include "tls/tls.h"

#include <openssl/crypto.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "resources/errors.h"

struct TlsChannel {
    SOCKET socket = INVALID_SOCKET;
    std::string hostName;
    TlsCredentials* credentials = nullptr;
    int timeoutSeconds = 0;
    uint32_t options = 0;
    bool credentialsAcquired = false;
};

namespace {

thread_local int lastTlsError = 0;

int Fail(int error) {
    lastTlsError = error;
    return 0;
}

std::size_t TextSize(const char* text) {
    return text ? std::strlen(text) + 1 : 0;
}

// Copies text behind the fixed part; returns the copy (or null for no text).
char* PlaceText(char*& cursor, const char* text) {
    if (!text) return nullptr;
    std::size_t size = std::strlen(text) + 1;
    std::memcpy(cursor, text, size);
    char* placed = cursor;
    cursor += size;
    return placed;
}

std::size_t RecordSize(const TlsCredentials& record) {
    return sizeof(TlsCredentials) + TextSize(record.serverName) + TextSize(record.reserved1) +
           TextSize(record.pfxPassword) + TextSize(record.certificateStore) +
           TextSize(record.certificateName) + TextSize(record.reserved2);
}

TlsCredentials* BuildRecord(const TlsCredentials& source) {
    std::size_t size = RecordSize(source);
    auto* block = static_cast<char*>(std::calloc(1, size));
    if (!block) return nullptr;
    auto* record = reinterpret_cast<TlsCredentials*>(block);
    record->size = TLS_CREDENTIALS_SIZE;
    record->protocol = source.protocol;
    record->location = source.location;
    char* cursor = block + sizeof(TlsCredentials);
    record->serverName = PlaceText(cursor, source.serverName);
    record->reserved1 = PlaceText(cursor, source.reserved1);
    record->pfxPassword = PlaceText(cursor, source.pfxPassword);
    record->certificateStore = PlaceText(cursor, source.certificateStore);
    record->certificateName = PlaceText(cursor, source.certificateName);
    record->reserved2 = PlaceText(cursor, source.reserved2);
    return record;
}

}  // namespace

extern "C" {

int TlsGetLastError(void) {
    return lastTlsError;
}

int TlsBindProvider(void) {
    return 1;
}

void TlsUnbindProvider(void) {}

int TlsCreateCredentials(uint32_t protocol, const char* certificateStore,
                         const char* certificateName, TlsCredentials** record) {
    if (!record) return Fail(fileErrorInvalidParameter);
    TlsFreeCredentials(record);
    TlsCredentials source{};
    source.protocol = protocol == 0 ? TLS_PROTOCOL_DEFAULT : protocol;
    source.certificateStore = const_cast<char*>(certificateStore);
    source.certificateName = const_cast<char*>(certificateName);
    *record = BuildRecord(source);
    return *record ? 1 : Fail(fileErrorOutOfMemory);
}

TlsCredentials* TlsCopyCredentials(const TlsCredentials* record) {
    if (!record) {
        Fail(fileErrorInvalidParameter);
        return nullptr;
    }
    TlsCredentials* copy = BuildRecord(*record);
    if (!copy) Fail(fileErrorOutOfMemory);
    return copy;
}

void TlsFreeCredentials(TlsCredentials** slot) {
    if (!slot || !*slot) return;
    // The texts may hold a PFX password.
    OPENSSL_cleanse(*slot, RecordSize(**slot));
    std::free(*slot);
    *slot = nullptr;
}

TlsChannel* TlsCreateChannel(SOCKET socket, const char* hostName, const TlsCredentials* credentials,
                             int timeoutSeconds, uint32_t options) {
    auto* channel = new (std::nothrow) TlsChannel;
    if (!channel) {
        Fail(fileErrorOutOfMemory);
        return nullptr;
    }
    channel->socket = socket;
    channel->hostName = hostName ? hostName : "";
    channel->timeoutSeconds = timeoutSeconds;
    channel->options = options;
    if (credentials) {
        channel->credentials = TlsCopyCredentials(credentials);
        if (!channel->credentials) {
            delete channel;
            return nullptr;
        }
    }
    return channel;
}

int TlsResumeSessionOf(TlsChannel* channel, const TlsChannel* source) {
    return channel != nullptr && source != nullptr ? 1 : 0;
}

void TlsFreeChannel(TlsChannel* channel) {
    if (!channel) return;
    TlsFreeCredentials(&channel->credentials);
    delete channel;
}

int TlsAcquireCredentials(TlsChannel* channel) {
    if (!channel) return Fail(fileErrorInvalidParameter);
    channel->credentialsAcquired = true;
    return 1;
}

int TlsStartHandshake(TlsChannel*) {
    return Fail(fileErrorSecurityContext);
}
int TlsHandshakeLoop(TlsChannel*) {
    return Fail(fileErrorSecurityContext);
}
int TlsSelectClientCertificate(TlsChannel*) {
    return Fail(fileErrorSecurityCredentials);
}
int TlsValidateCertificate(TlsChannel*) {
    return Fail(fileErrorSecurityContext);
}
int TlsShutdown(TlsChannel*) {
    return Fail(fileErrorSecurityContext);
}

int TlsDecrypt(TlsChannel*, void*, int) {
    Fail(fileErrorSecurityDecryption);
    return -1;
}

int TlsEncrypt(TlsChannel*, const void*, int) {
    Fail(fileErrorSecurityEncryption);
    return -1;
}

int TlsGetSecurityInfo(TlsChannel*, SecurityInfo* info) {
    if (!info || info->size < TLS_SECURITY_INFO_SIZE) return Fail(fileErrorInvalidParameter);
    return Fail(fileErrorSecurityContext);
}

}  // extern "C"
