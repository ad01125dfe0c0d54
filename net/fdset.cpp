// NetFdSet: a growable set of sockets with no limit on count or descriptor value.
#include <cstdlib>

#include "net/net.h"

namespace {

constexpr uint32_t kInitialCapacity = 8;

int Grow(NetFdSet* set) {
    uint32_t capacity = set->fd_capacity ? set->fd_capacity * 2 : kInitialCapacity;
    if (capacity < set->fd_capacity) return -1;
    void* grown = std::realloc(set->fd_array, capacity * sizeof(SOCKET));
    if (grown == nullptr) return -1;
    set->fd_array = static_cast<SOCKET*>(grown);
    set->fd_capacity = capacity;
    return 0;
}

}  // namespace

void NetFdInit(NetFdSet* set) {
    if (set == nullptr) return;
    set->fd_count = 0;
    set->fd_capacity = 0;
    set->fd_array = nullptr;
}

void NetFdFree(NetFdSet* set) {
    if (set == nullptr) return;
    std::free(set->fd_array);
    NetFdInit(set);
}

void NetFdZero(NetFdSet* set) {
    if (set != nullptr) set->fd_count = 0;
}

int NetFdIsSet(const NetFdSet* set, SOCKET s) {
    if (set == nullptr) return 0;
    for (uint32_t i = 0; i < set->fd_count; ++i) {
        if (set->fd_array[i] == s) return 1;
    }
    return 0;
}

int NetFdAdd(NetFdSet* set, SOCKET s) {
    if (set == nullptr || s < 0) return -1;
    if (NetFdIsSet(set, s)) return 0;
    if (set->fd_count == set->fd_capacity && Grow(set) != 0) return -1;
    set->fd_array[set->fd_count++] = s;
    return 0;
}

void NetFdRemove(NetFdSet* set, SOCKET s) {
    if (set == nullptr) return;
    for (uint32_t i = 0; i < set->fd_count; ++i) {
        if (set->fd_array[i] == s) {
            set->fd_array[i] = set->fd_array[--set->fd_count];
            return;
        }
    }
}
