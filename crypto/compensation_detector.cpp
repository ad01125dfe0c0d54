#include "crypto/compensation_detector.h"

#include <algorithm>
#include <cstring>

#include "crypto/byte_order.h"

namespace {

bool SameBlock(const std::uint8_t* a, const std::uint8_t* b) {
    return std::memcmp(a, b, CompensationAttackDetector::kBlockLength) == 0;
}

}  // namespace

void CompensationAttackDetector::ReserveFor(std::size_t blocks) {
    std::size_t size = table_.empty() ? kInitialTableSize : table_.size();
    while (2 * size < 3 * blocks)
        size *= 4;
    if (size != table_.size()) table_.assign(size, 0);
}

bool CompensationAttackDetector::IsAttack(const std::uint8_t* data, std::size_t length,
                                          const std::uint8_t* iv) {
    if (length % kBlockLength != 0 || length > kMaxPacketLength) return true;
    const std::size_t blocks = length / kBlockLength;
    ReserveFor(blocks);
    std::fill(table_.begin(), table_.end(), 0);
    const std::size_t mask = table_.size() - 1;
    bool attack = false;
    for (std::size_t i = 0; i < blocks && !attack; ++i) {
        const std::uint8_t* block = data + i * kBlockLength;
        if (iv != nullptr && SameBlock(block, iv)) {
            attack = true;
            break;
        }
        // Ciphertext is uniformly distributed, so four of its bytes are a good hash.
        std::size_t slot = LoadLe32(block) & mask;
        for (; table_[slot] != 0; slot = (slot + 1) & mask) {
            if (SameBlock(block, data + (table_[slot] - 1) * kBlockLength)) {
                attack = true;
                break;
            }
        }
        table_[slot] = static_cast<std::uint32_t>(i + 1);
    }
    return attack;
}
