#include "net/callhook.h"

namespace net {
namespace {
std::atomic<SocketCallObserver> g_observer{nullptr};
}  // namespace

SocketCallObserver SetSocketCallObserver(SocketCallObserver observer) {
    return g_observer.exchange(observer);
}

SocketCallObserver CurrentSocketCallObserver() {
    return g_observer.load(std::memory_order_acquire);
}

}  // namespace net
