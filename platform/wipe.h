// Wiping of secrets in a way the optimiser cannot remove: the one place that
// does it, for raw memory, objects, strings and the blocks an allocator gives
// back.
#pragma once

#include <cstddef>
#include <cstring>
#include <limits>
#include <new>
#include <string>

// A full-speed memset the compiler must keep: the barrier tells it the zeroed
// memory is read afterwards (glibc's explicit_bzero does the same).
inline void SecureWipe(void* data, std::size_t length) {
    if (length == 0) return;
    std::memset(data, 0, length);
    asm volatile("" : : "r"(data) : "memory");
}

template <typename T>
inline void SecureWipeObject(T& object) {
    SecureWipe(&object, sizeof object);
}

// Wipes a string's whole capacity (the characters past its length too, and a
// short string's inline buffer), then empties it.
template <typename Char, typename Traits, typename Allocator>
inline void WipeString(std::basic_string<Char, Traits, Allocator>& text) {
    text.resize(text.capacity());
    SecureWipe(text.data(), text.size() * sizeof(Char));
    text.clear();
}

// An allocator that wipes every block before giving it back.
template <typename T>
struct WipingAllocator {
    using value_type = T;

    WipingAllocator() = default;
    template <typename U>
    WipingAllocator(const WipingAllocator<U>&) {}

    T* allocate(std::size_t count) {
        if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_alloc();
        return static_cast<T*>(::operator new(count * sizeof(T)));
    }
    void deallocate(T* block, std::size_t count) {
        SecureWipe(block, count * sizeof(T));
        ::operator delete(block);
    }
    template <typename U>
    bool operator==(const WipingAllocator<U>&) const {
        return true;
    }
};
