// libFuzzer target for the SSH binary packet reader before keys are set: the
// length, padding and block rules on whatever a server sends, and with an odd
// first byte the payloads' decompression (built and run by scripts/fuzz.sh).
//
// The first byte chooses the size of the pieces the rest arrives in, so that
// packets split at every boundary are read as well.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "ssh/packet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t piece = data[0] / 2 % 64 + 1;
    std::span<const std::uint8_t> input(data + 1, size - 1);
    SshPacketDecoder decoder;
    if (data[0] & 1) {
        auto keys = std::make_unique<SshDirectionKeys>();
        keys->SetCompression(SshCompression::Zlib);
        decoder.SetKeys(std::move(keys));
    }
    while (!input.empty()) {
        const std::span<const std::uint8_t> chunk = input.first(std::min(piece, input.size()));
        std::size_t consumed = 0;
        const SshPacketDecoder::Status status = decoder.Feed(chunk, &consumed);
        if (consumed > chunk.size()) __builtin_trap();
        if (status == SshPacketDecoder::Status::Rejected) break;
        // A packet's payload never exceeds the largest packet the reader takes.
        if (status == SshPacketDecoder::Status::Packet &&
            decoder.payload().size() > kSshMaxInflatedPayload)
            __builtin_trap();
        if (consumed == 0 && status == SshPacketDecoder::Status::NeedMore) __builtin_trap();
        input = input.subspan(consumed);
    }
    return 0;
}
