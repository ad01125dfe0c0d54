// The credentials record, the thread's last TLS error and the provider binding.
#include <openssl/crypto.h>
#include <openssl/ssl.h>

#include <cstdlib>
#include <cstring>

#include "resources/errors.h"
#include "tls/channel.h"

namespace tls {
namespace {

thread_local int lastTlsError = 0;

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

bool bound = false;

}  // namespace

int Fail(int error) {
    lastTlsError = error;
    return 0;
}

int LastError() {
    return lastTlsError;
}

bool IsBound() {
    return bound;
}

}  // namespace tls

using tls::Fail;

extern "C" {

int TlsGetLastError(void) {
    return tls::LastError();
}

// OpenSSL is linked in, so binding only initialises it; it cannot fail short
// of memory.
const char* TlsProviderVersion(void) {
    return OpenSSL_version(OPENSSL_VERSION);
}

int TlsBindProvider(void) {
    if (!tls::bound) {
        if (OPENSSL_init_ssl(0, nullptr) != 1) return Fail(fileErrorSecurityNotInitialized);
        tls::bound = true;
    }
    return 1;
}

void TlsUnbindProvider(void) {
    tls::bound = false;
}

int TlsCreateCredentials(uint32_t protocol, const char* certificateStore,
                         const char* certificateName, TlsCredentials** record) {
    if (!record) return Fail(fileErrorInvalidParameter);
    TlsFreeCredentials(record);
    TlsCredentials source{};
    source.protocol = protocol == 0 ? TLS_PROTOCOL_DEFAULT : protocol;
    source.certificateStore = const_cast<char*>(certificateStore);
    source.certificateName = const_cast<char*>(certificateName);
    *record = tls::BuildRecord(source);
    return *record ? 1 : Fail(fileErrorOutOfMemory);
}

TlsCredentials* TlsCopyCredentials(const TlsCredentials* record) {
    if (!record) {
        Fail(fileErrorInvalidParameter);
        return nullptr;
    }
    TlsCredentials* copy = tls::BuildRecord(*record);
    if (!copy) Fail(fileErrorOutOfMemory);
    return copy;
}

void TlsFreeCredentials(TlsCredentials** slot) {
    if (!slot || !*slot) return;
    // The texts may hold a PFX password.
    OPENSSL_cleanse(*slot, tls::RecordSize(**slot));
    std::free(*slot);
    *slot = nullptr;
}

}  // extern "C"
