// The payload compression of SSH-2 ("zlib" and the delayed "zlib@openssh.com"):
// one deflate stream per direction for the life of a set of keys, each packet
// ended by a partial flush so that it can be decoded on its own arrival.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "crypto/bignum.h"

enum class SshCompression : std::uint8_t {
    None,
    Zlib,     // from the first packet under the new keys
    Delayed,  // from the first packet after the server accepted the login
};

// Largest payload a compressed packet may inflate to: the packet size limit
// servers use themselves, so a small packet cannot grow without bound.
constexpr std::size_t kSshMaxInflatedPayload = 256 * 1024;

// One direction's zlib stream: the sender's deflate or the receiver's inflate.
class SshZlibStream {
  public:
    enum class Role { Deflate, Inflate };

    explicit SshZlibStream(Role role);
    ~SshZlibStream();
    SshZlibStream(const SshZlibStream&) = delete;
    SshZlibStream& operator=(const SshZlibStream&) = delete;

    // A fresh stream (the previous one, if any, is dropped). False when zlib
    // could not start one.
    bool Start();
    void Stop();
    bool active() const { return stream_ != nullptr; }
    // Deflate: replaces out[skip...] with the compressed form of in; the first
    // skip bytes of out stay. False on a zlib failure.
    bool Compress(std::span<const std::uint8_t> in, SecureBytes& out, std::size_t skip);
    // Inflate: sets out to the inflated form of in. False on corrupt data or
    // when it would pass kSshMaxInflatedPayload.
    bool Inflate(std::span<const std::uint8_t> in, SecureBytes& out);

  private:
    struct Stream;
    Role role_;
    std::unique_ptr<Stream> stream_;
};
