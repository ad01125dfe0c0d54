// Channels fed with hand-made server messages: the session channel (opening and the
// command with its fallback, flow control in both directions, the remembered
// end-of-file, requests from the server, invalid channel numbers and the close), and
// forwarded channels where a real server cannot show the fault: the two throttles,
// which server-opened channels are taken or refused (and with which text), and the X11
// set-up with right and wrong fake data of both protocols as the local display sees it.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "crypto/des.h"
#include "crypto/random.h"
#include "recording_link.h"
#include "resources/errors.h"
#include "ssh/channel.h"
#include "ssh/forwarding.h"
#include "support/loopback_socket.h"
#include "support/test_files.h"

using testssh::Message;
using testssh::ReadText;
using testssh::RecordingLink;

namespace {

constexpr std::uint32_t kRemote = 5;

// Opens the session channel of a further layer and confirms it with the given window.
void OpenAndConfirm(SshConnectionLayer& layer, std::uint32_t window, std::uint32_t maxPacket) {
    layer.OpenSession();
    layer.Handle(Message(kSshMsgChannelOpenConfirmation)
                     .U32(kSshFirstLocalChannel)
                     .U32(kRemote)
                     .U32(window)
                     .U32(maxPacket));
}

class SshChannelTest : public ::testing::Test {
  protected:
    SshChannelTest() : layer_(config_, link_) {
        config_.remoteCommand = "sftp";
        config_.remoteCommandIsSubsystem = true;
        config_.fallbackCommand = "exec sftp-server";
    }

    std::uint32_t Open(std::uint32_t window = 100000, std::uint32_t maxPacket = 32768) {
        layer_.OpenSession();
        SshReader open = link_.Reader(0);
        EXPECT_EQ(ReadText(open), "session");
        std::uint32_t id = 0;
        EXPECT_TRUE(open.ReadUint32(&id));
        EXPECT_TRUE(layer_.Handle(Message(kSshMsgChannelOpenConfirmation)
                                      .U32(id)
                                      .U32(kRemote)
                                      .U32(window)
                                      .U32(maxPacket)));
        return id;
    }
    std::uint32_t Run(std::uint32_t window = 100000, std::uint32_t maxPacket = 32768) {
        const std::uint32_t id = Open(window, maxPacket);
        layer_.Handle(Message(kSshMsgChannelSuccess).U32(id));
        EXPECT_TRUE(layer_.ready());
        link_.Clear();
        return id;
    }
    // read(reader, recipient) for every sent packet of one type, in order.
    template <typename Read>
    auto Collect(std::uint8_t type, Read read) const {
        std::vector<decltype(read(std::declval<SshReader&>(), std::uint32_t{}))> results;
        for (std::size_t i = 0; i < link_.sent.size(); ++i) {
            if (link_.sent[i].payload[0] != type) continue;
            SshReader r = link_.Reader(i);
            std::uint32_t recipient = 0;
            EXPECT_TRUE(r.ReadUint32(&recipient));
            results.push_back(read(r, recipient));
        }
        return results;
    }
    // The requests sent: recipient, want-reply and the request with its first text.
    std::vector<std::string> Requests() const {
        return Collect(kSshMsgChannelRequest, [](SshReader& r, std::uint32_t recipient) {
            bool wantReply = false;
            std::string request = ReadText(r);
            EXPECT_TRUE(r.ReadBool(&wantReply));
            if (request != "shell") request += " " + ReadText(r);
            return std::to_string(recipient) + (wantReply ? " ? " : " ! ") + request;
        });
    }
    // Sizes of the data packets sent.
    std::vector<std::size_t> DataSizes() const {
        return Collect(kSshMsgChannelData, [](SshReader& r, std::uint32_t recipient) {
            std::span<const std::uint8_t> data;
            EXPECT_TRUE(r.ReadString(&data));
            EXPECT_EQ(recipient, kRemote);
            return data.size();
        });
    }
    // The window adjusts sent, by amount.
    std::vector<std::uint32_t> Adjusts() const {
        return Collect(kSshMsgChannelWindowAdjust, [](SshReader& r, std::uint32_t) {
            std::uint32_t amount = 0;
            EXPECT_TRUE(r.ReadUint32(&amount));
            return amount;
        });
    }
    void Data(std::uint32_t id, std::size_t length) {
        layer_.Handle(Message(kSshMsgChannelData).U32(id).Str(std::string(length, 'd')));
    }

    SshConfig config_;
    RecordingLink link_;
    SshConnectionLayer layer_;
};

TEST_F(SshChannelTest, AsksForTheSubsystemAfterTheEnvironment) {
    config_.environment = {{"LANG", "C"}, {"TZ", "UTC"}};
    layer_.OpenSession();
    ASSERT_EQ(link_.Types(), std::vector<int>{kSshMsgChannelOpen});  // its fields are sshd's
    const std::uint32_t id = kSshFirstLocalChannel;
    layer_.Handle(Message(kSshMsgChannelOpenConfirmation).U32(id).U32(kRemote).U32(1000).U32(500));
    EXPECT_EQ(Requests(),
              (std::vector<std::string>{"5 ! env LANG", "5 ! env TZ", "5 ? subsystem sftp"}));
    EXPECT_FALSE(layer_.ready());
    layer_.Handle(Message(kSshMsgChannelSuccess).U32(id));
    EXPECT_TRUE(layer_.ready());
    EXPECT_EQ(layer_.requestedCommand(), "sftp");
}

// The server's replies in turn ('+' success, '-' failure) and the requests sent.
TEST_F(SshChannelTest, CommandFallbackTable) {
    const std::string sftp = "5 ? subsystem sftp", both = sftp + ", 5 ? exec exec sftp-server";
    struct Row {
        const char* name;
        std::string command;
        bool subsystem;
        std::string fallback, replies, requests;
        SshChannelState state;
    } rows[] = {
        {"fallback after refusal", "sftp", true, "exec sftp-server", "-+", both,
         SshChannelState::Running},
        {"both refused", "sftp", true, "exec sftp-server", "--", both, SshChannelState::Refused},
        {"no fallback", "sftp", true, "", "-", sftp, SshChannelState::Refused},
        {"empty command is a shell", "", false, "", "+", "5 ? shell", SshChannelState::Running},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SshConfig config;
        config.remoteCommand = row.command;
        config.remoteCommandIsSubsystem = row.subsystem;
        config.fallbackCommand = row.fallback;
        RecordingLink link;
        SshConnectionLayer layer(config, link);
        OpenAndConfirm(layer, 10, 10);
        for (char reply : row.replies)
            layer.Handle(Message(reply == '+' ? kSshMsgChannelSuccess : kSshMsgChannelFailure)
                             .U32(kSshFirstLocalChannel));
        std::swap(link_.sent, link.sent);
        std::string requests;
        for (const std::string& request : Requests())
            requests += (requests.empty() ? "" : ", ") + request;
        EXPECT_EQ(requests, row.requests);
        EXPECT_EQ(layer.sessionState(), row.state);
        EXPECT_EQ(layer.ready(), row.state == SshChannelState::Running);
        EXPECT_EQ(layer.failed(), row.state == SshChannelState::Refused);
    }
}

TEST_F(SshChannelTest, DataWaitsForWindowAndIsCutAtTheMaximumPacket) {
    const std::uint32_t id = Run(100, 40);
    const std::vector<std::uint8_t> data(250, 7);
    ASSERT_TRUE(layer_.Send(data));
    EXPECT_EQ(DataSizes(), (std::vector<std::size_t>{40, 40, 20}));
    EXPECT_EQ(layer_.pendingOutgoing(), 150u);
    link_.Clear();
    layer_.Handle(Message(kSshMsgChannelWindowAdjust).U32(id).U32(130));
    EXPECT_EQ(DataSizes(), (std::vector<std::size_t>{40, 40, 40, 10}));
    EXPECT_EQ(layer_.pendingOutgoing(), 20u);
    link_.Clear();
    layer_.Handle(Message(kSshMsgChannelWindowAdjust).U32(id).U32(1000));
    EXPECT_EQ(DataSizes(), std::vector<std::size_t>{20});
    EXPECT_EQ(layer_.session()->remoteWindow, 980u);
}

TEST_F(SshChannelTest, EndOfFileWaitsForTheCommandAndForQueuedData) {
    const std::uint32_t id = Open(10, 100);
    const std::vector<std::uint8_t> data(25, 1);
    layer_.SendEof();
    link_.Clear();
    layer_.Handle(Message(kSshMsgChannelSuccess).U32(id));
    EXPECT_EQ(link_.Types(), std::vector<int>{kSshMsgChannelEof});

    // Queued data first, the end-of-file after its last byte.
    RecordingLink link;
    SshConnectionLayer layer(config_, link);
    OpenAndConfirm(layer, 10, 100);
    layer.Handle(Message(kSshMsgChannelSuccess).U32(kSshFirstLocalChannel));
    link.Clear();
    ASSERT_TRUE(layer.Send(data));
    layer.SendEof();
    EXPECT_FALSE(layer.Send(data));  // nothing after end-of-file
    EXPECT_EQ(link.Types(), std::vector<int>{kSshMsgChannelData});
    layer.Handle(Message(kSshMsgChannelWindowAdjust).U32(kSshFirstLocalChannel).U32(100));
    EXPECT_EQ(link.Types(),
              (std::vector<int>{kSshMsgChannelData, kSshMsgChannelData, kSshMsgChannelEof}));
    EXPECT_EQ(layer.session()->eofSent, true);
}

// The window is raised once what the buffer has room for is more than twice what
// the server may still send.
TEST_F(SshChannelTest, LocalWindowIsToppedUpInLargeSteps) {
    const std::uint32_t id = Run();
    Data(id, 10000);
    EXPECT_EQ(layer_.session()->localWindow, 6384u);
    EXPECT_EQ(Adjusts(), std::vector<std::uint32_t>{});  // 6384 room, 6384 left
    std::vector<std::uint8_t> out(16384);
    EXPECT_EQ(layer_.Read(std::span(out).first(3000)), 3000u);
    EXPECT_EQ(Adjusts(), std::vector<std::uint32_t>{});  // 9384 is not above 12768
    EXPECT_EQ(layer_.Read(out), 7000u);
    EXPECT_EQ(Adjusts(), std::vector<std::uint32_t>{10000});
    EXPECT_EQ(layer_.session()->localWindow, 16384u);

    link_.Clear();
    Data(id, 9000);  // 7384 left, 7384 room: nothing
    EXPECT_EQ(Adjusts(), std::vector<std::uint32_t>{});
    layer_.Read(std::span(out).first(9000));
    EXPECT_EQ(Adjusts(), std::vector<std::uint32_t>{9000});

    // Data beyond the window is kept; the window stays shut until it is read.
    link_.Clear();
    Data(id, 20000);
    EXPECT_EQ(layer_.session()->localWindow, 0u);
    EXPECT_EQ(layer_.buffered(), 20000u);
    EXPECT_EQ(Adjusts(), std::vector<std::uint32_t>{});
    std::size_t total = 0;
    while (layer_.buffered() > 0)
        total += layer_.Read(out);
    EXPECT_EQ(total, 20000u);
    EXPECT_EQ(Adjusts(), std::vector<std::uint32_t>{12768});  // after the first 16384 read
}

TEST_F(SshChannelTest, ServerRequestsAreStoredOrRefused) {
    const std::uint32_t id = Run();  // exit-status is SshdSessionTest's, from sshd
    layer_.Handle(Message(kSshMsgChannelRequest)
                      .U32(id)
                      .Str("exit-signal")
                      .Bool(false)
                      .Str("SEGV")
                      .Bool(false)
                      .Str("")
                      .Str(""));
    EXPECT_EQ(layer_.exit().signal, "SEGV");
    EXPECT_EQ(layer_.exit().signalNumber, 11);
    EXPECT_TRUE(link_.sent.empty());
    layer_.Handle(Message(kSshMsgChannelRequest).U32(id).Str("keepalive@openssh.com").Bool(true));
    layer_.Handle(Message(kSshMsgChannelRequest).U32(id).Str("something").Bool(false));
    ASSERT_EQ(link_.Types(), std::vector<int>{kSshMsgChannelFailure});
    SshReader r = link_.Reader(0);
    std::uint32_t recipient = 0;
    EXPECT_TRUE(r.ReadUint32(&recipient));
    EXPECT_EQ(recipient, kRemote);
    layer_.Handle(Message(kSshMsgGlobalRequest).Str("hostkeys-00@openssh.com").Bool(true));
    EXPECT_EQ(link_.Types().back(), kSshMsgRequestFailure);
    EXPECT_FALSE(link_.failed);
}

TEST_F(SshChannelTest, ServerCloseIsAnsweredAndTheLastChannelEndsTheConnection) {
    const std::uint32_t id = Run();
    Data(id, 10);
    layer_.Handle(Message(kSshMsgChannelEof).U32(id));
    EXPECT_FALSE(layer_.endOfData() && layer_.buffered() == 0);
    layer_.Handle(Message(kSshMsgChannelClose).U32(id));
    EXPECT_EQ(link_.Types(), std::vector<int>{kSshMsgChannelClose});
    EXPECT_EQ(layer_.channelCount(), 0u);
    EXPECT_EQ(link_.endedLocally, "All channels closed");
    // What arrived before the close can still be read.
    std::uint8_t out[20];
    EXPECT_EQ(layer_.Read(out), 10u);
    EXPECT_TRUE(layer_.endOfData());

    // Our close first: the server's close is not answered again.
    RecordingLink link;
    SshConnectionLayer layer(config_, link);
    OpenAndConfirm(layer, 10, 10);
    layer.Close();
    layer.Handle(Message(kSshMsgChannelClose).U32(kSshFirstLocalChannel));
    EXPECT_EQ(link.Types().back(), kSshMsgChannelClose);
    EXPECT_EQ(link.Types().size(), 3u);  // open, subsystem request, one close
    EXPECT_EQ(link.endedLocally, "All channels closed");
}

// Messages for a channel that is not open are protocol errors that name it.
TEST_F(SshChannelTest, MessagesForAnInvalidChannelFailTheConnection) {
    const struct {
        Message message;
        const char* text;
    } rows[] = {
        {Message(kSshMsgChannelRequest).U32(99).Str("exit-status").Bool(false).U32(0),
         "Received channel request for invalid channel 99"},
        {Message(kSshMsgChannelData).U32(99).Str("x"), "Received data for invalid channel 99"},
        {Message(kSshMsgChannelWindowAdjust).U32(99).U32(10),
         "Received window adjust for invalid channel 99"},
        {Message(kSshMsgChannelClose).U32(99), "Received close for invalid channel 99"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        RecordingLink link;
        SshConnectionLayer layer(config_, link);
        OpenAndConfirm(layer, 10, 10);
        layer.Handle(row.message);
        EXPECT_TRUE(link.failed);
        EXPECT_EQ(link.failError, fileErrorInvalidServerResponse);
        EXPECT_EQ(link.failReason, 2u);
        EXPECT_EQ(link.failText, row.text);
    }
}

TEST_F(SshChannelTest, RefusedOpenLeavesNothingToRun) {
    layer_.OpenSession();
    layer_.Handle(
        Message(kSshMsgChannelOpenFailure).U32(kSshFirstLocalChannel).U32(1).Str("no").Str(""));
    EXPECT_TRUE(layer_.failed());
    EXPECT_EQ(link_.endedLocally, "All channels closed");
}

constexpr std::uint32_t kServerChannel = 7;

// The type and, for a refusal, the text of the last packet sent.
std::string LastReply(const RecordingLink& link) {
    if (link.sent.empty()) return "nothing";
    const SecureBytes& last = link.sent.back().payload;
    if (last[0] == kSshMsgChannelOpenConfirmation) return "confirmed";
    if (last[0] == kSshMsgChannelClose) return "closed";
    if (last[0] != kSshMsgChannelOpenFailure) return "type " + std::to_string(last[0]);
    SshReader reader = link.Reader(link.sent.size() - 1);
    std::uint32_t recipient = 0, reason = 0;
    EXPECT_TRUE(reader.ReadUint32(&recipient) && reader.ReadUint32(&reason));
    return ReadText(reader);
}

// The layer's own channels; the session channel is never opened here.
class SshForwardingTest : public SshChannelTest {
  protected:
    std::uint32_t OpenDirect(std::uint32_t remoteWindow) {
        const std::uint32_t id = layer_.OpenDirectTcpip("127.0.0.2", 80, "127.0.0.1", 0);
        layer_.Handle(Message(kSshMsgChannelOpenConfirmation)
                          .U32(id)
                          .U32(kServerChannel)
                          .U32(remoteWindow)
                          .U32(kSshForwardMaxPacket));
        link_.Clear();
        return id;
    }
    // A channel the server opens, with the type's fields.
    void ServerOpens(const std::string& type, const Message& fields) {
        const Message open = Message(kSshMsgChannelOpen)
                                 .Str(type)
                                 .U32(kServerChannel)
                                 .U32(65536)
                                 .U32(kSshForwardMaxPacket);
        std::vector<std::uint8_t> message(open.bytes().begin(), open.bytes().end());
        const auto extra = fields.bytes().subspan(1);  // past the placeholder type byte
        message.insert(message.end(), extra.begin(), extra.end());
        layer_.Handle(message);
    }
};

// Bytes from the server pile up while the local socket lags: past 32 KiB the
// window is not topped up, below it is again. Bytes for the server pile up while
// its window is shut: past 32 KiB the local socket is not read.
TEST_F(SshForwardingTest, ThrottlesHoldTheWindowAndTheLocalReads) {
    const std::uint32_t id = OpenDirect(0);
    for (int i = 0; i < 7; ++i)
        Data(id, 32768);  // 224 KiB of the 256 KiB window
    layer_.Consume(id, 184 * 1024);
    EXPECT_TRUE(layer_.channel(id)->throttled);  // 40 KiB still wait
    EXPECT_TRUE(Adjusts().empty());
    layer_.Consume(id, 10 * 1024);
    EXPECT_FALSE(layer_.channel(id)->throttled);
    EXPECT_EQ(Adjusts(), std::vector<std::uint32_t>{194 * 1024});

    EXPECT_TRUE(layer_.TakesLocalData(id));
    ASSERT_TRUE(layer_.SendOn(id, std::vector<std::uint8_t>(40000, 'o')));
    EXPECT_FALSE(layer_.TakesLocalData(id));
    layer_.Handle(Message(kSshMsgChannelWindowAdjust).U32(id).U32(10000));
    EXPECT_TRUE(layer_.TakesLocalData(id));
}

// The server opens channels of each kind; only what was asked for is taken.
TEST_F(SshForwardingTest, ServerChannelsAreTakenOnlyWhenAskedFor) {
    int targetPort = 0;
    const int target = testsupport::ListenOnLoopback(&targetPort);
    ASSERT_GE(target, 0);
    SshForwarder forwarder(config_, layer_);
    layer_.SetOwner(&forwarder);
    SshRemoteForward remote;
    remote.targetPort = static_cast<std::uint16_t>(targetPort);
    const std::uint64_t ticket = forwarder.RequestRemote(remote);
    layer_.Handle(Message(kSshMsgRequestSuccess).U32(4711));
    ASSERT_TRUE(forwarder.answer(ticket).success);
    EXPECT_EQ(forwarder.answer(ticket).port, 4711);

    const struct {
        const char* type;
        std::uint32_t port;
        const char* reply;
    } cases[] = {
        {"forwarded-tcpip", 4712, "Remote port is not recognised"},
        {"forwarded-tcpip", 4711, "confirmed"},
        {"auth-agent@openssh.com", 0, "Agent forwarding is not enabled"},
        {"x11", 0, "X11 forwarding is not enabled"},
        {"session", 0, "Unsupported channel type requested"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + std::to_string(c.port));
        Message fields(0);
        if (c.port) fields.Str("127.0.0.1").U32(c.port).Str("127.0.0.1").U32(40000);
        ServerOpens(c.type, fields);
        EXPECT_EQ(LastReply(link_), c.reply);
    }
    EXPECT_EQ(forwarder.relayCount(), 1u);
    ::close(target);
}

// DES-CBC (zero IV) of the 24 bytes under the fake data's key, as an X client of
// XDM-AUTHORIZATION-1 wraps them: each key byte takes seven of the bits of bytes
// 9..15 above its parity bit.
std::string XdmWrap(const std::string& fake, std::uint16_t port, std::uint32_t clock) {
    const auto* in = reinterpret_cast<const std::uint8_t*>(fake.data()) + 8;
    std::uint8_t keyBytes[8];
    for (int i = 0; i < 7; ++i)
        keyBytes[i] =
            static_cast<std::uint8_t>((((in[i] << (7 - i)) | (in[i + 1] >> (i + 1))) & 0x7f) << 1);
    keyBytes[7] = static_cast<std::uint8_t>((in[7] & 0x7f) << 1);
    std::uint8_t block[24] = {};
    std::memcpy(block, fake.data(), 8);
    block[8] = 127, block[11] = 1;
    block[12] = static_cast<std::uint8_t>(port >> 8), block[13] = static_cast<std::uint8_t>(port);
    for (int i = 0; i < 4; ++i)
        block[14 + i] = static_cast<std::uint8_t>(clock >> (24 - 8 * i));
    DesKey key;
    DesSetKey(key, keyBytes);
    std::uint8_t iv[8] = {};
    DesCbcEncrypt(key, iv, block, sizeof block);
    return std::string(reinterpret_cast<const char*>(block), sizeof block);
}

// The X11 client's set-up must carry the fake data; the display then gets the
// real cookie, and anything else closes the channel with nothing passed on. Under
// XDM-AUTHORIZATION-1 the data must also name the client's address and port as the
// channel open gave them, a clock within 20 minutes, and count only once.
TEST_F(SshForwardingTest, X11SetUpGetsTheRealCookieOnlyForTheFakeData) {
    RandomStart();
    ScratchFolder folder("x11");
    const std::string path = (folder / "X0").string();
    const int display = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(display, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(display, 4), 0);
    config_.forwardX11 = true;
    config_.x11Socket = path;
    const std::string real = "0123456789abcdef";
    config_.x11Cookie = real;

    // Little-endian set-up: 'l', pad, version 11.0, name and data lengths, pad.
    auto setup = [](const std::string& name, const std::string& data) {
        std::string bytes = {'l', 0, 11, 0, 0, 0};
        bytes += {static_cast<char>(name.size()), 0, static_cast<char>(data.size()), 0, 0, 0};
        bytes += name + std::string((4 - name.size() % 4) % 4, '\0');
        bytes += data + std::string((4 - data.size() % 4) % 4, '\0');
        return bytes;
    };
    const std::string mit = "MIT-MAGIC-COOKIE-1", xdm = "XDM-AUTHORIZATION-1";
    const auto now = static_cast<std::uint32_t>(std::time(nullptr));
    enum Data { Fake, Wrong, XdmNow, XdmOtherPort, XdmStale };
    const struct {
        const char* name;
        SshX11Protocol protocol;
        const std::string& sentName;
        Data data;
        bool passes;
    } cases[] = {
        {"right cookie", SshX11Protocol::MitMagicCookie, mit, Fake, true},
        {"wrong cookie", SshX11Protocol::MitMagicCookie, mit, Wrong, false},
        {"other protocol", SshX11Protocol::MitMagicCookie, xdm, Fake, false},
        {"xdm", SshX11Protocol::XdmAuthorization, xdm, XdmNow, true},
        {"xdm replayed", SshX11Protocol::XdmAuthorization, xdm, XdmNow, false},
        {"xdm from another port", SshX11Protocol::XdmAuthorization, xdm, XdmOtherPort, false},
        {"xdm 30 minutes old", SshX11Protocol::XdmAuthorization, xdm, XdmStale, false},
        {"xdm data as a cookie", SshX11Protocol::XdmAuthorization, mit, Fake, false},
    };
    std::unique_ptr<SshForwarder> forwarder;
    std::string fake;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!forwarder || config_.x11FakeProtocol != c.protocol) {
            config_.x11FakeProtocol = c.protocol;
            forwarder = std::make_unique<SshForwarder>(config_, layer_);
            layer_.SetOwner(forwarder.get());
            const std::string hex = forwarder->x11FakeCookieHex();
            fake.clear();
            for (std::size_t i = 0; i < hex.size(); i += 2)
                fake += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
        }
        link_.Clear();
        ServerOpens("x11", Message(0).Str("127.0.0.1").U32(6010));
        ASSERT_EQ(LastReply(link_), "confirmed");
        const int client = ::accept(display, nullptr, nullptr);
        ASSERT_GE(client, 0);
        SshReader confirmation = link_.Reader(link_.sent.size() - 1);
        std::uint32_t recipient = 0, id = 0;
        ASSERT_TRUE(confirmation.ReadUint32(&recipient) && confirmation.ReadUint32(&id));
        const std::string data = c.data == Fake           ? fake
                                 : c.data == Wrong        ? std::string(16, 'x')
                                 : c.data == XdmNow       ? XdmWrap(fake, 6010, now)
                                 : c.data == XdmOtherPort ? XdmWrap(fake, 6011, now)
                                                          : XdmWrap(fake, 6010, now - 1800);
        const std::string passedOn = c.passes ? setup(mit, real) + "rest" : "";
        // The set-up arrives in two pieces; nothing passes before it is whole.
        const std::string sent = setup(c.sentName, data) + "rest";
        layer_.Handle(Message(kSshMsgChannelData).U32(id).Str(sent.substr(0, 20)));
        forwarder->Service({});
        layer_.Handle(Message(kSshMsgChannelData).U32(id).Str(sent.substr(20)));
        forwarder->Service({});
        std::string got;
        pollfd waiting{client, POLLIN, 0};
        while (got.size() < passedOn.size() && ::poll(&waiting, 1, 1000) > 0) {
            char buffer[256];
            const ssize_t n = ::read(client, buffer, sizeof buffer);
            if (n <= 0) break;
            got.append(buffer, static_cast<std::size_t>(n));
        }
        EXPECT_EQ(got, passedOn);
        EXPECT_EQ(LastReply(link_) == "closed", passedOn.empty());
        ::close(client);
    }
    ::close(display);
}

}  // namespace
