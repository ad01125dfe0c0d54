// Sessions at scale against the loopback servers of scripts/servers.sh: many
// sessions of each protocol opened and closed in turn through the engines'
// C functions without losing descriptors or memory, and eight controls on
// threads of their own moving files over FTP, HTTP and SFTP at once without
// touching each other's files, events or errors. Without the servers'
// settings the tests skip, unless CI=true.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "control/method_call_support.h"
#include "control/session_test_support.h"
#include "support/server_settings.h"
#include "support/test_files.h"

namespace {

using Clock = std::chrono::steady_clock;

enum class Kind { kFtp, kHttp, kSftp };

struct Server {
    const char* name;
    Kind kind;
    const char* portVariable;
    bool anonymous;  // an FTP login without a password for the server to hash
    // Sessions opened in turn by one process: a thousand of each protocol. The
    // servers' logins set the pace: vsftpd's anonymous one takes about 10 ms,
    // dropbear's about 35 ms, proftpd's and sshd's well over 100 ms of the
    // servers' own work each (sshd starts a whole process and hashes the
    // password), so those two rows run fewer to stay within the run's budget.
    // The sanitizers slow the SSH side's own cryptography further; LeakSanitizer
    // still sees every session.
    int sessions;
    int sanitizedSessions;
};

void PrintTo(const Server& server, std::ostream* out) {
    *out << server.name;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

constexpr Server kServers[] = {
    {"vsftpd", Kind::kFtp, "FT_TEST_FTP_PORT", true, 1000, 1000},
    {"proftpd", Kind::kFtp, "FT_TEST_PROFTPD_PORT", false, 100, 100},
    {"nginx", Kind::kHttp, "FT_TEST_HTTP_PORT", false, 1000, 1000},
    {"sshd", Kind::kSftp, "FT_TEST_SFTP_PORT", false, 200, 100},
    {"dropbear", Kind::kSftp, "FT_TEST_DROPBEAR_PORT", false, 1000, 300},
};

std::string Hex(DWORD error) {
    std::ostringstream text;
    text << std::hex << error;
    return text.str();
}

std::size_t OpenDescriptorCount() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

long ResidentKiB() {
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

class SessionsInTurnTest : public ::testing::TestWithParam<Server> {
  protected:
    void SetUp() override {
        REQUIRE_SERVER_SETTINGS("FT_TEST_HOST", "FT_TEST_USER", GetParam().portVariable);
        host_ = Setting("FT_TEST_HOST");
        const bool anonymous = GetParam().anonymous;
        user_ = Setting(anonymous ? "FT_TEST_ANON_USER" : "FT_TEST_USER");
        password_ = Setting(anonymous ? "FT_TEST_ANON_PASSWORD" : "FT_TEST_PASSWORD");
        port_ = std::stoi(Setting(GetParam().portVariable));
        ASSERT_EQ(FtpInitialize(nullptr), 1);
        ASSERT_EQ(HttpInitialize(nullptr), 1);
        initialized_ = true;
    }
    void TearDown() override {
        if (!initialized_) return;
        HttpUninitialize();
        FtpUninitialize();
    }

    // Opens a session, runs one small operation and closes it: "" or what failed,
    // "refused" when the server is not there.
    std::string OneSession() {
        if (GetParam().kind == Kind::kHttp) {
            HttpClient client = HttpConnect(HTTP_PROXY_NONE, nullptr, 0, nullptr, nullptr,
                                            host_.c_str(), port_, 10, 0, HTTP_VERSION_11, nullptr);
            if (client == INVALID_HTTP_CLIENT) return Refused(HttpGetLastError());
            std::string body;
            if (HttpSendRequest(client, "GET", "/hello.txt") == 200) {
                char buffer[64];
                for (int got = 1, round = 0; got > 0 && round < 10; ++round) {
                    got = HttpRecv(client, buffer, sizeof buffer);
                    if (got > 0) body.append(buffer, static_cast<std::size_t>(got));
                }
            }
            const DWORD error = HttpGetLastError();
            HttpDisconnect(client);
            return body == "Hello, world!\n" ? "" : "GET: " + Hex(error) + " " + body;
        }
        const bool sftp = GetParam().kind == Kind::kSftp;
        FtpClient client = FtpConnect(host_.c_str(), port_, user_.c_str(), password_.c_str(), 10,
                                      sftp ? FTP_OPTION_SECURE_SHELL : 0, nullptr);
        if (client == INVALID_CLIENT) return Refused(FtpGetLastError());
        DWORD size = 0;
        const bool done = sftp ? FtpGetFileSize(client, "hello.txt", &size) >= 0 && size == 14
                               : FtpCommand(client, "NOOP", nullptr) == 200;
        const DWORD error = FtpGetLastError();
        if (FtpDisconnect(client) != 0) return "disconnect: " + Hex(FtpGetLastError());
        return done ? "" : "operation: " + Hex(error);
    }
    static std::string Refused(DWORD error) {
        return error == MakeErrorCode(fileErrorConnectionRefused) ? "refused"
                                                                  : "connect: " + Hex(error);
    }

    std::string host_, user_, password_;
    int port_ = 0;
    bool initialized_ = false;
};

// Sessions opened and closed one after another leave no descriptor behind and
// no memory (resident size in the release build; LeakSanitizer under the
// sanitizers).
TEST_P(SessionsInTurnTest, LeaveNoDescriptorsNorMemoryBehind) {
    const int sessions = kSanitized ? GetParam().sanitizedSessions : GetParam().sessions;
    const int settle = std::min(50, sessions / 2);  // sessions before the resident size is taken
    const std::string first = OneSession();
    SKIP_IF_NOT_RUNNING(first == "refused", GetParam().name);
    ASSERT_EQ(first, "");
    const std::size_t descriptors = OpenDescriptorCount();
    long resident = 0;
    const auto start = Clock::now();
    for (int i = 1; i < sessions; ++i) {
        if (i == settle) resident = ResidentKiB();
        ASSERT_EQ(OneSession(), "") << "session " << i;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::cout << GetParam().name << ": " << sessions << " sessions in " << seconds
              << " s, resident size " << resident << " KiB after " << settle << ", "
              << ResidentKiB() << " KiB at the end\n";
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    if (!kSanitized) {  // the sanitizers keep freed memory in quarantine
        EXPECT_LT(ResidentKiB() - resident, 4096) << "KiB grown after the first " << settle;
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, SessionsInTurnTest, ::testing::ValuesIn(kServers),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- controls on threads of their own -------------------------------------------------

// What one thread does and finds; shared with the thread, which may outlive a
// test that gave up waiting for it.
struct Worker {
    Server server;
    std::string url, remote, onDisk, local, tag;
    unsigned index = 0;
    LONG missingError = 0;  // the error of a download of a missing file
    bool refused = false;   // the server is not running
    std::string failures;
    int progressEvents = 0;
};

void Note(Worker& worker, const std::string& what) {
    worker.failures += what + "; ";
}

std::string LastErrorString(CFileTransfer* control) {
    BSTR text = nullptr;
    control->get_LastErrorString(&text);
    std::string result = Utf8FromBstr(text);
    SysFreeString(text);
    return result;
}

// Connects its own control, moves its own file up and down a few times,
// checks its events and errors, and cleans up.
void RunWorker(Worker& worker) {
    CFileTransfer* control = CFileTransfer::Create();
    RecordingSink* sink = RecordingSink::Create();
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    control->FindConnectionPoint(DIID__IFileTransferEvents, point.Receive());
    point->Advise(sink, &cookie);
    sink->hook = [&](const RecordingSink::Event& event) {
        if (event.dispid != 4) return;  // OnProgress
        ++worker.progressEvents;
        if (event.arguments[0].find(worker.tag) == std::string::npos)
            Note(worker, "progress of another file: " + event.arguments[0]);
    };
    VARIANT timeout = I4(20);
    LONG error = CallWithError(control, &CFileTransfer::Connect, TextVariant(worker.url), nullptr,
                               nullptr, nullptr, &timeout, nullptr);
    for (int round = 0; round < 4 && error == 0; ++round) {
        const std::string bytes = Pattern(300000 + 1000 * round, worker.index * 8 + round);
        WriteFile(worker.local, bytes);
        const int eventsBefore = worker.progressEvents;
        error = CallWithError(control, &CFileTransfer::PutFile, TextVariant(worker.local),
                              TextVariant(worker.remote), nullptr);
        if (error != 0) break;
        if (ReadFile(worker.onDisk) != bytes) Note(worker, "server copy differs");
        std::remove(worker.local.c_str());
        error = CallWithError(control, &CFileTransfer::GetFile, TextVariant(worker.local),
                              TextVariant(worker.remote), nullptr);
        if (error != 0) break;
        if (ReadFile(worker.local) != bytes) Note(worker, "download differs");
        LONG transferred = 0, lastError = -1;
        control->get_TransferBytes(&transferred);
        control->get_LastError(&lastError);
        if (transferred != static_cast<LONG>(bytes.size()) || lastError != 0)
            Note(worker, "transfer bytes " + std::to_string(transferred) + ", last error " +
                             std::to_string(lastError));
        if (worker.progressEvents == eventsBefore) Note(worker, "no progress events");
    }
    if (error == fileErrorConnectionRefused) {
        worker.refused = true;
    } else if (error != 0) {
        Note(worker, "error " + std::to_string(error) + ": " + LastErrorString(control));
    } else {
        // A refused download is this control's error, whatever the others do.
        const std::string missing = worker.remote + ".missing";
        const LONG refused =
            CallWithError(control, &CFileTransfer::GetFile, TextVariant(worker.local),
                          TextVariant(missing), nullptr);
        LONG lastError = 0;
        control->get_LastError(&lastError);
        if (refused != worker.missingError || (lastError & 0xFFFF) != worker.missingError)
            Note(worker, "missing file: error " + std::to_string(refused) + ", last error " +
                             std::to_string(lastError) + ": " + LastErrorString(control));
        CallWithError(control, &CFileTransfer::Disconnect);
    }
    point->Unadvise(cookie);
    point = nullptr;
    control->Release();
    sink->Release();
    std::remove(worker.local.c_str());
    std::remove(worker.onDisk.c_str());
}

TEST(ControlsOnThreadsTest, MoveTheirOwnFilesAtOnceWithoutInterference) {
    REQUIRE_SERVER_SETTINGS("FT_TEST_HOST", "FT_TEST_USER", "FT_TEST_ROOT", "FT_TEST_FTP_PORT",
                            "FT_TEST_PROFTPD_PORT", "FT_TEST_SFTP_PORT", "FT_TEST_HTTP_PORT",
                            "FT_TEST_HTTP_ROOT", "FT_TEST_DAV_PATH");
    const std::string host = Setting("FT_TEST_HOST"), root = Setting("FT_TEST_ROOT");
    const std::string login = Setting("FT_TEST_USER") + ":" + Setting("FT_TEST_PASSWORD") + "@";
    const Server servers[] = {kServers[0], kServers[1], kServers[0], kServers[2],
                              kServers[2], kServers[2], kServers[3], kServers[3]};
    std::vector<std::shared_ptr<Worker>> workers;
    for (const Server& server : servers) {
        auto worker = std::make_shared<Worker>();
        worker->server = server;
        worker->index = static_cast<unsigned>(workers.size());
        worker->tag = "scale-" + std::to_string(getpid()) + "-" + std::to_string(workers.size());
        worker->local = testing::TempDir() + worker->tag + ".local";
        const std::string address = host + ":" + Setting(server.portVariable);
        if (server.kind == Kind::kHttp) {
            worker->url = "http://" + address + "/";
            worker->remote = Setting("FT_TEST_DAV_PATH") + worker->tag + ".bin";
            worker->onDisk = Setting("FT_TEST_HTTP_ROOT") + worker->remote;
            worker->missingError = fileErrorResourceNotFound;
        } else {
            worker->url =
                (server.kind == Kind::kFtp ? "ftp://" : "sftp://") + login + address + "/";
            worker->remote = root + "/" + worker->tag + ".bin";
            worker->onDisk = worker->remote;
            worker->missingError =
                server.kind == Kind::kFtp ? fileErrorAccessDenied : fileErrorFileNotFound;
        }
        workers.push_back(worker);
    }
    const std::size_t descriptors = OpenDescriptorCount();
    std::vector<std::future<void>> done;
    std::vector<std::thread> threads;
    for (const auto& worker : workers) {
        auto finished = std::make_shared<std::promise<void>>();
        done.push_back(finished->get_future());
        threads.emplace_back([worker, finished] {
            RunWorker(*worker);
            finished->set_value();
        });
    }
    // A thread that hangs fails the test instead of holding up the run; it is
    // left behind with what it shares.
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::seconds(120);
    for (std::size_t i = 0; i < threads.size(); ++i) {
        if (done[i].wait_until(deadline) == std::future_status::ready) {
            threads[i].join();
            EXPECT_EQ(workers[i]->failures, "") << i << " " << workers[i]->server.name;
        } else {
            ADD_FAILURE() << "thread " << i << " (" << workers[i]->server.name << ") hangs";
            threads[i].detach();
        }
    }
    std::cout << "eight controls done in "
              << std::chrono::duration<double>(Clock::now() - start).count() << " s\n";
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    for (const auto& worker : workers)
        SKIP_IF_NOT_RUNNING(worker->refused, worker->server.name);
}

// An SFTP session closed while another thread's transfer holds the SFTP lock
// is torn down once that transfer ends, not leaked.
TEST(SftpReleaseTest, SessionClosedDuringAnotherTransferIsNotLeaked) {
    REQUIRE_SERVER_SETTINGS("FT_TEST_HOST", "FT_TEST_SFTP_PORT", "FT_TEST_USER", "FT_TEST_ROOT");
    const std::string host = Setting("FT_TEST_HOST"), user = Setting("FT_TEST_USER");
    const std::string password = Setting("FT_TEST_PASSWORD");
    const int port = std::stoi(Setting("FT_TEST_SFTP_PORT"));
    const std::string remote = Setting("FT_TEST_ROOT") + "/release-" + std::to_string(getpid());
    std::ofstream(remote).close();
    std::filesystem::resize_file(remote, std::uintmax_t{1} << 30);  // sparse
    // Gone however the test ends: other tests read the files of this folder.
    const std::unique_ptr<const std::string, void (*)(const std::string*)> removeRemote(
        &remote, [](const std::string* path) { std::filesystem::remove(*path); });
    const std::string local =
        std::filesystem::temp_directory_path() / ("release-" + std::to_string(getpid()));
    auto open = [&] {
        return FtpConnect(host.c_str(), port, user.c_str(), password.c_str(), 20,
                          FTP_OPTION_SECURE_SHELL, nullptr);
    };
    ASSERT_EQ(FtpInitialize(nullptr), 1);
    FtpDisconnect(open());  // the first session's one-time costs
    const std::size_t descriptors = OpenDescriptorCount();
    const FtpClient closing = open();
    ASSERT_NE(closing, INVALID_CLIENT);
    // A session belongs to the thread that opened it.
    std::promise<FtpClient> opened;
    std::thread transfer([&] {
        const FtpClient busy = open();
        opened.set_value(busy);
        if (busy == INVALID_CLIENT) return;
        FtpGetFile(busy, local.c_str(), remote.c_str(), 0, 0);  // cancelled below
        EXPECT_EQ(FtpDisconnect(busy), 0);
    });
    const FtpClient busy = opened.get_future().get();
    EXPECT_NE(busy, INVALID_CLIENT);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(FtpDisconnect(closing), 0);  // gives up waiting for the lock after a second
    if (busy != INVALID_CLIENT) FtpCancel(busy);
    transfer.join();
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    std::filesystem::remove(local);
    FtpUninitialize();
}

}  // namespace
