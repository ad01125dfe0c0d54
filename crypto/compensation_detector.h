// Screening of incoming SSH-1 packets for the CRC-32 compensation attack.
//
// The attack splices copies of ciphertext blocks into a CBC packet so that the changes to
// the plaintext cancel out in the CRC-32. It cannot work without an 8-byte ciphertext block
// that occurs twice in the packet (or equals the IV before it). Honest packets repeat a
// block with negligible probability, so any repetition is treated as an attack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class CompensationAttackDetector {
  public:
    static constexpr std::size_t kBlockLength = 8;
    static constexpr std::size_t kInitialTableSize = 4096;
    // Larger packets are refused outright (SSH-1 packets are at most 256 KiB).
    static constexpr std::size_t kMaxPacketLength = 256 * 1024;

    // True when the packet must be rejected: a repeated block, a block equal to iv (which
    // may be null), a length that is not whole blocks, or an oversized packet.
    bool IsAttack(const std::uint8_t* data, std::size_t length, const std::uint8_t* iv);

    std::size_t TableSize() const { return table_.size(); }

  private:
    void ReserveFor(std::size_t blocks);

    // Block index + 1 per slot, 0 for an empty slot; the table is kept between packets and
    // only grows, four-fold at a time, while smaller than 1.5 x the blocks of a packet.
    std::vector<std::uint32_t> table_;
};
