// Bytes that come in at the back and are taken from the front: a connection's
// inbox, data waiting for the network or for a peer's window, a block being
// read out piece by piece.
//
// One contiguous block holds them: what is held is [head, tail) of the storage,
// and the room after the tail is where the next bytes go, so producers may
// receive straight into it (Room, Commit) and consumers send or decode straight
// out of it (Front, Consume). Taking the last byte starts the storage over from
// its beginning; otherwise the taken bytes stay in front until Compact moves
// the rest down. A queue made with a capacity keeps it (a bounded buffer offers
// only its Room); Append grows the storage when the room is too small. Secrets
// go in a queue with the wiping allocator (SecureByteQueue).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <vector>

#include "platform/wipe.h"

template <typename Byte, typename Allocator = std::allocator<Byte>>
class ByteQueue {
    static_assert(sizeof(Byte) == 1);

  public:
    ByteQueue() = default;
    explicit ByteQueue(std::size_t capacity) : storage_(capacity) {}

    std::size_t size() const { return tail_ - head_; }
    bool empty() const { return head_ == tail_; }
    std::size_t capacity() const { return storage_.size(); }

    // The bytes held, oldest first.
    std::span<const Byte> Front() const { return {storage_.data() + head_, size()}; }
    // Drops `count` (at most size()) bytes from the front.
    void Consume(std::size_t count) {
        head_ += count;
        if (head_ == tail_) head_ = tail_ = 0;
    }
    // Copies as many bytes as fit from the front into `out` and drops them.
    std::size_t Take(std::span<Byte> out) {
        const std::size_t count = std::min(out.size(), size());
        if (count > 0) std::memcpy(out.data(), storage_.data() + head_, count);
        Consume(count);
        return count;
    }
    // Moves what is held to the start of the storage once more than `slack`
    // taken bytes lie in front of it.
    void Compact(std::size_t slack = 0) {
        if (head_ <= slack) return;
        if (tail_ > head_) std::memmove(storage_.data(), storage_.data() + head_, size());
        tail_ -= head_;
        head_ = 0;
    }

    // The free storage after the held bytes, for a producer to write into...
    std::span<Byte> Room() { return {storage_.data() + tail_, storage_.size() - tail_}; }
    // ...and to hand over the first `count` (at most Room().size()) of them.
    void Commit(std::size_t count) { tail_ += count; }

    // Adds bytes at the back. When the room is too small, the bytes held move down
    // over the taken ones if those are at least as many (so that every byte is
    // moved at most once per byte taken), or else the storage doubles.
    void Append(std::span<const Byte> bytes) {
        if (bytes.empty()) return;
        if (storage_.size() - tail_ < bytes.size()) {
            if (head_ >= size() && storage_.size() - size() >= bytes.size())
                Compact();
            else
                storage_.resize(std::max(tail_ + bytes.size(), 2 * storage_.size()));
        }
        std::memcpy(storage_.data() + tail_, bytes.data(), bytes.size());
        tail_ += bytes.size();
    }
    void Clear() { head_ = tail_ = 0; }

    // Gives the storage a new capacity, keeping the bytes held (moved to the
    // start). False, changing nothing, when they do not fit or memory runs out.
    bool Resize(std::size_t capacity) {
        if (capacity < size()) return false;
        try {
            std::vector<Byte, Allocator> storage(capacity);
            if (!empty()) std::memcpy(storage.data(), storage_.data() + head_, size());
            storage_.swap(storage);
        } catch (const std::bad_alloc&) {
            return false;
        }
        tail_ -= head_;
        head_ = 0;
        return true;
    }

  private:
    std::vector<Byte, Allocator> storage_;
    std::size_t head_ = 0;
    std::size_t tail_ = 0;
};

// For bytes that may hold secrets (a secure shell's plaintext).
using SecureByteQueue = ByteQueue<std::uint8_t, WipingAllocator<std::uint8_t>>;
