#include "ssh/compression.h"

#include <zlib.h>

#include <algorithm>
#include <new>

namespace {

// OpenSSH's level: a fair ratio at a modest cost.
constexpr int kDeflateLevel = 6;
constexpr std::size_t kStep = 16 * 1024;

unsigned ChunkLength(std::size_t length) {
    return static_cast<unsigned>(std::min<std::size_t>(length, 1u << 30));
}

}  // namespace

struct SshZlibStream::Stream {
    explicit Stream(Role role) : role(role) {}
    ~Stream() { role == Role::Deflate ? deflateEnd(&z) : inflateEnd(&z); }
    Role role;
    z_stream z{};
};

SshZlibStream::SshZlibStream(Role role) : role_(role) {}
SshZlibStream::~SshZlibStream() = default;

bool SshZlibStream::Start() {
    stream_.reset();
    auto stream = std::unique_ptr<Stream>(new (std::nothrow) Stream(role_));
    if (!stream) return false;
    // Ending a stream that never started is harmless.
    const int result = role_ == Role::Deflate ? deflateInit(&stream->z, kDeflateLevel)
                                              : inflateInit(&stream->z);
    if (result != Z_OK) return false;
    stream_ = std::move(stream);
    return true;
}

void SshZlibStream::Stop() { stream_.reset(); }

bool SshZlibStream::Compress(std::span<const std::uint8_t> in, SecureBytes& out, std::size_t skip) {
    z_stream& z = stream_->z;
    out.resize(skip + deflateBound(&z, in.size()) + 16);
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = ChunkLength(in.size());
    std::size_t used = skip;
    for (;;) {
        if (out.size() - used < kStep / 4) out.resize(out.size() + kStep);
        z.next_out = out.data() + used;
        z.avail_out = ChunkLength(out.size() - used);
        const int result = deflate(&z, Z_PARTIAL_FLUSH);
        used = out.size() - z.avail_out;
        if (result != Z_OK && result != Z_BUF_ERROR) return false;
        // Done once all input is taken and the flush did not fill the space.
        if (z.avail_in == 0 && z.avail_out != 0) break;
    }
    out.resize(used);
    return true;
}

bool SshZlibStream::Inflate(std::span<const std::uint8_t> in, SecureBytes& out) {
    z_stream& z = stream_->z;
    out.clear();
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = ChunkLength(in.size());
    std::size_t used = 0;
    for (;;) {
        if (out.size() - used < kStep / 4) {
            if (out.size() >= kSshMaxInflatedPayload) return false;
            out.resize(std::min(out.size() + kStep, kSshMaxInflatedPayload));
        }
        z.next_out = out.data() + used;
        z.avail_out = ChunkLength(out.size() - used);
        const int result = inflate(&z, Z_SYNC_FLUSH);
        used = out.size() - z.avail_out;
        // Z_BUF_ERROR: no progress was possible, which with all input taken
        // means the packet's data is complete.
        if (result == Z_BUF_ERROR && z.avail_in == 0) break;
        if (result != Z_OK) return false;
        if (z.avail_in == 0 && z.avail_out != 0) break;
    }
    out.resize(used);
    return true;
}
