// Wiping of secrets in a way the optimiser cannot remove.
#pragma once

#include <cstddef>

inline void SecureWipe(void* data, std::size_t length) {
    volatile unsigned char* p = static_cast<volatile unsigned char*>(data);
    while (length--) *p++ = 0;
}

template <typename T>
inline void SecureWipeObject(T& object) {
    SecureWipe(&object, sizeof object);
}
