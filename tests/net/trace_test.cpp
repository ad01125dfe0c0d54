// The trace file: socket calls with their results and errors, nested starts,
// the kinds of lines the flags let through, threads, and the dump layout.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "net/net.h"
#include "net/state_trace.h"
#include "net/trace.h"
#include "net/trace_format.h"
#include "net_test_support.h"
#include "support/test_files.h"

namespace {

class TraceFile : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(NetStartup(nullptr), 0); }
    void TearDown() override {
        while (NetTraceOff() == 1) {
        }
        NetCleanup();
    }
    std::string Text() const { return ReadFile(path_); }
    static bool Has(const std::string& text, const std::string& part) {
        return text.find(part) != std::string::npos;
    }

    ScratchFolder folder_{"fttrace"};
    std::string path_ = (folder_ / "trace.txt").string();
};

TEST_F(TraceFile, SocketCallsAreRecordedWithTheirErrorsWhileAnyStartIsOpen) {
    ASSERT_EQ(NetTraceOn(path_.c_str(), NET_TRACE_INFO), 1);
    ASSERT_EQ(NetTraceOn(path_.c_str(), NET_TRACE_INFO), 1);  // nested
    sockaddr_in refused = nettest::LoopbackAddress(nettest::ClosedLoopbackPort());
    SOCKET s = NetSocket(AF_INET, SOCK_STREAM, 0);
    ASSERT_NE(s, INVALID_SOCKET);
    EXPECT_EQ(NetConnect(s, reinterpret_cast<sockaddr*>(&refused), sizeof refused), -1);
    EXPECT_EQ(NetGetLastError(), 10061);  // tracing keeps the call's error
    EXPECT_EQ(NetEventSelect(s, FD_READ), 0);
    NetNetworkEvents events;
    EXPECT_EQ(NetEnumNetworkEvents(s, &events), 0);
    EXPECT_EQ(NetTraceOff(), 1);
    NetCloseSocket(s);  // still traced: one start is open
    EXPECT_EQ(NetTraceOff(), 1);
    EXPECT_EQ(NetTraceOff(), 0);
    NetCloseSocket(NetSocket(AF_INET, SOCK_DGRAM, 0));  // not traced

    std::string text = Text();
    EXPECT_TRUE(Has(text, "socket(2, 1, 0) = ")) << text;
    EXPECT_TRUE(Has(text, "[10061 fileErrorConnectionRefused]")) << text;
    EXPECT_TRUE(Has(text, "eventselect(" + std::to_string(s) + ", 0x1) = 0")) << text;
    EXPECT_TRUE(Has(text, "enumnetworkevents(" + std::to_string(s) + ", 0x")) << text;
    EXPECT_TRUE(Has(text, "closesocket(" + std::to_string(s) + ") = 0")) << text;
    EXPECT_FALSE(Has(text, "socket(2, 2, 0)")) << text;
    EXPECT_TRUE(Has(text, "trace off")) << text;
}

TEST_F(TraceFile, TheFlagsChooseWhichMessagesAndDumpsAreWritten) {
    ASSERT_EQ(NetTraceOn(path_.c_str(), NET_TRACE_INFO), 1);
    EXPECT_EQ(NetTraceMessage(0, "plain %d", 1), 1);
    EXPECT_EQ(NetTraceMessage(NET_TRACE_ERROR, "bad %s", "one"), 0);
    EXPECT_EQ(NetTraceDump("AB", 2), 0);
    ASSERT_EQ(NetTraceOn(path_.c_str(), NET_TRACE_ERROR | NET_TRACE_HEXDUMP), 1);
    EXPECT_EQ(NetTraceMessage(NET_TRACE_ERROR | NET_TRACE_HEXDUMP, "bad %s", "two"), 1);
    EXPECT_EQ(NetTraceMessage(NET_TRACE_WARNING, "odd"), 0);
    const char* empty = "";
    EXPECT_EQ(NetTraceMessage(0, empty), 0);
    EXPECT_EQ(NetTraceDump("AB\n", 3), 1);

    std::string text = Text();
    EXPECT_TRUE(Has(text, "plain 1\n"));
    EXPECT_FALSE(Has(text, "bad one"));
    EXPECT_TRUE(Has(text, "error: bad two\n"));
    EXPECT_FALSE(Has(text, "odd"));
    EXPECT_TRUE(Has(text, "00000000  41 42 0a")) << text;
}

TEST_F(TraceFile, OtherThreadsAreTracedOnlyForTheWholeProcess) {
    auto messageFromAnotherThread = [](const char* text) {
        int written = -1;
        std::thread([&] { written = NetTraceMessage(0, "%s", text); }).join();
        return written;
    };
    ASSERT_EQ(NetTraceOn(path_.c_str(), NET_TRACE_INFO), 1);
    EXPECT_EQ(messageFromAnotherThread("thread only"), 0);
    ASSERT_EQ(NetTraceOn(path_.c_str(), NET_TRACE_PROCESS), 1);
    EXPECT_EQ(messageFromAnotherThread("whole process"), 1);
    EXPECT_TRUE(Has(Text(), "whole process"));
}

// A machine's state change is one line; setting the same state writes none.
TEST_F(TraceFile, StateChangesAreTracedByTheirNames) {
    enum class Light { Red, Green, Broken };
    static constexpr const char* kNames[] = {"Red", "Green"};
    Light light = Light::Red;
    ASSERT_EQ(NetTraceOn(path_.c_str(), NET_TRACE_INFO), 1);
    net::ChangeState(light, Light::Green, "Lamp", kNames);
    net::ChangeState(light, Light::Green, "Lamp", kNames);
    net::ChangeState(light, Light::Broken, "Lamp", kNames);
    EXPECT_EQ(light, Light::Broken);
    const std::string text = Text();
    EXPECT_TRUE(Has(text, "Lamp state Red -> Green\n")) << text;
    EXPECT_TRUE(Has(text, "Lamp state Green -> ?\n")) << text;
    EXPECT_EQ(text.find("Lamp state Green -> Green"), std::string::npos) << text;
}

TEST(TraceFormat, DumpsAndResolverFailures) {
    const unsigned char data[17] = {'H', 'i', 0, 0x7f, 'z', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, '!'};
    EXPECT_EQ(net::FormatDump(data, sizeof data),
              "00000000  48 69 00 7f 7a 00 00 00 00 00 00 00 00 00 00 00  |Hi..z...........|\n"
              "00000010  21                                               |!|\n");
    EXPECT_EQ(net::FormatDump(data, 0), "");
    // A resolver's failure is its result, not the last error.
    std::intptr_t arguments[] = {reinterpret_cast<std::intptr_t>("no.such.host"), 0, 0};
    EXPECT_EQ(net::FormatSocketCall(net::SocketCall::getaddrinfo, 11001, 3, arguments, 0),
              "getaddrinfo(\"no.such.host\", null, null) = 11001 [11001 fileErrorInvalidHostName]");
}

}  // namespace
