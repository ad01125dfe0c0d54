// Wiping of secrets in a way the optimiser cannot remove.
#pragma once

#include <cstddef>
#include <cstring>

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
