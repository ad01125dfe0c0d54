// The runtime's own state: start-up counting, the binding of the C library,
// the error tables, the thread's wait flags and the call observer.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <sys/stat.h>

#include <arpa/inet.h>

#include <cerrno>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "net/binding.h"
#include "net/callhook.h"
#include "net/net.h"
#include "net_test_support.h"

namespace {

struct Mapping {
    int from;
    int to;
};

// The rows whose numbers callers branch on (would-block, reset, refused, broken pipe), the
// fallbacks, and the resolver's own system-error path; the rest is the table itself.
TEST(NetErrorTables, ErrnoAndResolverResultsBecomeSocketErrorNumbers) {
    const Mapping errnos[] = {{EWOULDBLOCK, 10035}, {EAGAIN, 10035}, {EINPROGRESS, 10035},
                              {ECONNRESET, 10054},  {EPIPE, 10058},  {0, 0},
                              {EDOM, 10022}};  // no socket meaning
    for (const Mapping& row : errnos)
        EXPECT_EQ(NetErrorFromErrno(row.from), row.to) << row.from;
    const Mapping resolver[] = {
        {EAI_NONAME, 11001}, {EAI_NODATA, 11001}, {EAI_AGAIN, 11002}, {EAI_FAMILY, 10047}, {0, 0}};
    for (const Mapping& row : resolver)
        EXPECT_EQ(NetErrorFromResolver(row.from), row.to) << gai_strerror(row.from);
    errno = ECONNREFUSED;
    EXPECT_EQ(NetErrorFromResolver(EAI_SYSTEM), 10061);
}

// Start-up counts references, the last error is the thread's own, and a cancel
// outside a wait has nothing to cancel.
TEST(NetRuntime, StartupCountsLastErrorIsPerThreadCancelNeedsAWait) {
    NetStartupData data{};
    ASSERT_EQ(NetStartup(&data), 0);
    EXPECT_EQ(data.version, 0x0202);
    EXPECT_EQ(NetCleanup(), 0);
    // Take away the program's own reference too, then one more.
    EXPECT_EQ(NetCleanup(), 0);
    EXPECT_EQ(NetCleanup(), -1);
    EXPECT_EQ(NetGetLastError(), 10093);
    ASSERT_EQ(NetStartup(nullptr), 0);
    EXPECT_NE(NetGetLibrary(), nullptr);  // the library stays loaded through it all

    NetSetLastError(10054);
    int other = -1;
    std::thread([&] { other = NetGetLastError(); }).join();
    EXPECT_EQ(other, 0);
    EXPECT_EQ(NetGetLastError(), 10054);
    NetClearLastError();
    EXPECT_EQ(NetIsBlocking(), 0);
    EXPECT_EQ(NetCancelBlockingCall(), -1);
    EXPECT_EQ(NetGetLastError(), 10022);
}

TEST(NetBinding, LibraryPathAndEntryPointsAreTheLoadedCLibrarys) {
    char path[4096];
    int length = NetGetLibraryPath(path, sizeof path);
    ASSERT_GT(length, 0);
    EXPECT_EQ(path[0], '/');
    EXPECT_NE(std::string(path).find("libc.so.6"), std::string::npos) << path;
    struct stat info {};
    EXPECT_EQ(stat(path, &info), 0);
    char tiny[4];
    EXPECT_EQ(NetGetLibraryPath(tiny, sizeof tiny), 0);

    void* library = NetGetLibrary();
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(NetGetEntryPoint("closesocket"), dlsym(library, "close"));
    EXPECT_EQ(NetGetEntryPoint("WSAAsyncSelect"), nullptr);  // emulated, not bound
    EXPECT_EQ(NetGetEntryPoint("no_such_entry"), nullptr);
    EXPECT_EQ(NetGetEntryPoint(nullptr), nullptr);
    int probe = ::socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP);
    if (probe >= 0) ::close(probe);
    EXPECT_EQ(NetIsIpv6Available(), probe >= 0 ? 1 : 0);
}

// The observer sees each call after it returns; the error the call left
// survives whatever the observer does.
std::vector<net::SocketCall> g_seen;
void RecordingObserver(net::SocketCall call, std::intptr_t, int, const std::intptr_t*) {
    g_seen.push_back(call);
    NetSetLastError(0);
}

TEST(NetCallObserver, SeesCallsAndKeepsTheirError) {
    g_seen.clear();
    auto previous = net::SetSocketCallObserver(&RecordingObserver);
    nettest::Pipe pipeEnds = nettest::MakePipe();
    char byte;
    EXPECT_EQ(NetRecv(pipeEnds.read.get(), &byte, 1, 0), -1);
    EXPECT_EQ(NetGetLastError(), 10038);
    NetSocketSet readSet(pipeEnds.read.get());
    NetTimeval zero{0, 0};
    EXPECT_EQ(NetSelect(&readSet, nullptr, nullptr, &zero), 0);
    net::SetSocketCallObserver(previous);
    EXPECT_EQ(g_seen,
              (std::vector<net::SocketCall>{net::SocketCall::recv, net::SocketCall::select}));
}

// What NetResolveHost gives (the family, or -1) with the byte it must have put
// at `at`, or the error.
TEST(NetResolver, NamesAndNumbersResolveAndFailuresGiveTheirNumbers) {
    struct Row {
        const char* host;
        int family;  // asked for (0: any)
        int result;
        std::size_t at;
        int value;  // the byte at `at`, or the error when result is -1
    };
    const Row rows[] = {
        {"localhost", 0, 2, 0, 127}, {"  127.0.0.1", 0, 2, 3, 1}, {"::1", 23, 23, 15, 1},
        {"::1", 0, 23, 15, 1},       {"", 0, -1, 0, 11001},       {"::1", 2, -1, 0, 11001},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.host) + " " + std::to_string(row.family));
        NetAddress address{};
        EXPECT_EQ(NetResolveHost(row.host, row.family, &address), row.result);
        if (row.result < 0)
            EXPECT_EQ(NetGetLastError(), row.value);
        else
            EXPECT_EQ(address.address[row.at], row.value);
    }
    EXPECT_EQ(NetResolveHost("127.0.0.1", 0, nullptr), -1);
    EXPECT_EQ(NetGetLastError(), 10014);
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* list = nullptr;
    EXPECT_EQ(NetGetAddrInfo("not-a-number", &hints, &list), 11001);
    EXPECT_EQ(NetGetLastError(), 11001);
    for (const addrinfo* asked :
         {static_cast<const addrinfo*>(nullptr), static_cast<const addrinfo*>(&hints)}) {
        hints = addrinfo{};
        hints.ai_family = NET_FAMILY_IPV6;
        ASSERT_EQ(NetGetAddrInfo("::1", asked, &list), 0);
        EXPECT_EQ(list->ai_family, AF_INET6);
        NetFreeAddrInfo(list);
    }
}

// Runs a test body with the resolver group unbound, as on a system without
// getaddrinfo.
class WithoutResolverGroup : public ::testing::Test {
  protected:
    void SetUp() override { net::SetResolverGroupBound(false); }
    void TearDown() override { net::SetResolverGroupBound(true); }
};

TEST_F(WithoutResolverGroup, AddressesAndTextFallBackToIpv4Only) {
    addrinfo* list = nullptr;
    EXPECT_EQ(NetGetAddrInfo("::1", nullptr, &list), 10047);
    addrinfo hints{};
    hints.ai_family = NET_FAMILY_IPV6;
    EXPECT_EQ(NetGetAddrInfo("localhost", &hints, &list), 10047);
    EXPECT_EQ(NetGetAddrInfo("127.0.0.1", nullptr, nullptr), 10014);
    hints = addrinfo{};
    hints.ai_flags = AI_NUMERICHOST;
    EXPECT_EQ(NetGetAddrInfo("localhost", &hints, &list), 11001);

    // Passive: any address; no name: loopback; a number as it is.
    addrinfo passive{};
    passive.ai_flags = AI_PASSIVE;
    passive.ai_socktype = SOCK_STREAM;
    const struct {
        const char* host;
        const addrinfo* hints;
        in_addr_t address;
    } rows[] = {{nullptr, &passive, htonl(INADDR_ANY)},
                {nullptr, nullptr, htonl(INADDR_LOOPBACK)},
                {" 127.0.0.2", nullptr, inet_addr("127.0.0.2")}};
    for (const auto& row : rows) {
        ASSERT_EQ(NetGetAddrInfo(row.host, row.hints, &list), 0);
        EXPECT_EQ(list->ai_family, AF_INET);
        EXPECT_EQ(reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr.s_addr, row.address);
        NetFreeAddrInfo(list);
    }

    uint8_t bytes[16];
    EXPECT_EQ(NetInetPton(NET_FAMILY_IPV4, "0x7f.1", bytes), 1);  // through NetInetAddr
    EXPECT_EQ(bytes[0], 127);
    EXPECT_EQ(NetInetPton(NET_FAMILY_IPV6, "::1", bytes), -1);
    EXPECT_EQ(NetGetLastError(), 10047);
    char text[64];
    ASSERT_NE(NetInetNtop(NET_FAMILY_IPV4, bytes, text, sizeof text), nullptr);
    EXPECT_STREQ(text, "127.0.0.1");
    EXPECT_EQ(NetInetNtop(NET_FAMILY_IPV6, bytes, text, sizeof text), nullptr);
    EXPECT_EQ(NetGetLastError(), 10047);
}

}  // namespace
