// The directory and file-information methods against scripted FTP peers:
// listings read parsed (by value and by reference) and raw, the listing as
// one text into every kind of buffer, a file's status, size, time and
// permissions and local-time conversions (the feature bits a session learns
// from refusals are the engine's, tests/ftp/fileops_test.cpp).
#include <optional>

#include "method_call_support.h"
#include "session_test_support.h"
#include "support/test_files.h"
#include "tests/ftp/data_peer.h"

namespace {

using testsupport::DataPeer;

constexpr const char* kListing =
    "total 8\r\n"
    "drwxr-xr-x    2 bob      staff        4096 Jan 02  2020 sub dir\r\n"
    "-rw-r-----    1 bob      staff          14 Mar 04  2021 h\xC3\xA9llo.txt\r\n";

PeerScript& ListingCommands(PeerScript& script, const DataPeer& data, const std::string& command) {
    return script.Reply("TYPE A", "200 ASCII\r\n")
        .Reply("PASV", data.PasvReply())
        .Reply(command, "150 Here comes the listing.\r\n")
        .Send("226 Done.\r\n")
        .Reply("TYPE I", "200 Binary\r\n");
}

// One ReadDirectory's outputs, each a by-reference variant of its own type.
struct Outputs {
    BSTR name = nullptr, date = nullptr, owner = nullptr, group = nullptr;
    LONG length = -1, perms = -1;
    VARIANT_BOOL isDirectory = 7;
    VARIANT v[7];

    Outputs() {
        const VARTYPE types[7] = {VT_BSTR, VT_I4, VT_BSTR, VT_BSTR, VT_BSTR, VT_I4, VT_BOOL};
        void* targets[7] = {&name, &length, &date, &owner, &group, &perms, &isDirectory};
        for (int i = 0; i < 7; ++i) {
            VariantInit(&v[i]);
            v[i].vt = VT_BYREF | types[i];
            v[i].byref = targets[i];
        }
    }
    ~Outputs() {
        for (BSTR text : {name, date, owner, group})
            SysFreeString(text);
    }
    std::string Summary() const {
        return Utf8FromBstr(name) + " " + std::to_string(length) + " " + Utf8FromBstr(date) + " " +
               Utf8FromBstr(owner) + ":" + Utf8FromBstr(group) + " " + std::to_string(perms) +
               (isDirectory == VARIANT_TRUE ? " dir" : " file");
    }
};

class DirectoryMethods : public SessionTest {
  protected:
    LONG Read(Outputs& out) {
        return Run(&CFileTransfer::ReadDirectory, &out.v[0], &out.v[1], &out.v[2], &out.v[3],
                   &out.v[4], &out.v[5], &out.v[6]);
    }
    // Plays script and then QUIT to a session that connects now.
    void Start(PeerScript& script) {
        QuitScript(script);
        peer_.emplace(script);
        ASSERT_EQ(ConnectTo(*peer_), 0);
    }
    void Finish() {
        EXPECT_EQ(Run(&CFileTransfer::Disconnect), 0);
        EXPECT_EQ(peer_->Finish(), "");
    }

    template <class... Params, class... Args>
    LONG Run(HRESULT (CFileTransfer::*method)(Params...), Args&&... args) {
        return CallWithError(control_, method, std::forward<Args>(args)...);
    }

    std::optional<ScriptedPeer> peer_;
};

TEST_F(DirectoryMethods, ParsedListingReadsEntriesUntilTheEnd) {
    ScopedEnv zone("TZ", "UTC");
    DataPeer data({.payload = kListing});
    PeerScript script;
    ListingCommands(LoginScript(script), data, "LIST /pub");
    Start(script);

    EXPECT_EQ(Run(&CFileTransfer::OpenDirectory, TextVariant("/pub"), nullptr), 0);
    Outputs first, second, end;
    ASSERT_EQ(Read(first), 0) << Text(&CFileTransfer::get_LastErrorString);
    // A midnight date is written without its time.
    EXPECT_EQ(first.Summary(), "sub dir 4096 2020-01-02 bob:staff 493 dir");
    ASSERT_EQ(Read(second), 0);
    EXPECT_EQ(second.Summary(), "h\xC3\xA9llo.txt 14 2021-03-04 bob:staff 416 file");
    EXPECT_EQ(Read(end), fileErrorEndOfDirectory);
    EXPECT_EQ(end.Summary(), " 0  : 0 file");  // cleared outputs
    EXPECT_EQ(sink_->Trace().substr(sink_->Trace().rfind('|') + 1), "OnError 12269");

    EXPECT_EQ(Run(&CFileTransfer::CloseDirectory), 0);
    Finish();
}

TEST_F(DirectoryMethods, UseMlsdListsByFactsInUtcOrLocalTimeAndRawLinesStayList) {
    ScopedEnv zone("TZ", "JST-9");
    VARIANT_BOOL initial = VARIANT_TRUE;
    ASSERT_EQ(control_->get_UseMlsd(&initial), S_OK);
    EXPECT_EQ(initial, VARIANT_FALSE);  // existing programs keep LIST
    ASSERT_EQ(control_->put_UseMlsd(VARIANT_TRUE), S_OK);
    const std::string payload =
        "type=cdir; /pub\r\n"
        "modify=20200102030405;size=5000000000;type=file;unix.mode=0640;"
        "unix.uid=7;unix.gid=8;  two blanks \r\n";
    DataPeer facts({.payload = payload});
    DataPeer lines({.payload = kListing});
    DataPeer factsAgain({.payload = payload});
    PeerScript script;
    ListingCommands(LoginScript(script, "bob", "/home/bob", " MLST size*;modify*;type*;\r\n"),
                    facts, "MLSD /pub");
    ListingCommands(script, lines, "LIST /pub");
    ListingCommands(script, factsAgain, "MLSD /pub");
    Start(script);

    for (bool localize : {false, true}) {
        if (localize) {
            // Raw lines are the usual listing in between, each whole in the
            // name with the other outputs cleared, until the end.
            VARIANT parse = BoolVariant(false);
            ASSERT_EQ(Run(&CFileTransfer::OpenDirectory, TextVariant("/pub"), &parse), 0);
            Outputs raw, second, last, end;
            ASSERT_EQ(Read(raw), 0);
            EXPECT_EQ(raw.Summary(), "total 8 0  : 0 file");
            ASSERT_EQ(Read(second), 0);
            ASSERT_EQ(Read(last), 0);
            EXPECT_EQ(Utf8FromBstr(last.name),
                      "-rw-r-----    1 bob      staff          14 Mar 04  2021 h\xC3\xA9llo.txt");
            EXPECT_EQ(Read(end), fileErrorEndOfDirectory);
            EXPECT_EQ(Run(&CFileTransfer::CloseDirectory), 0);
            ASSERT_EQ(control_->put_Localize(VARIANT_TRUE), S_OK);
        }
        ASSERT_EQ(Run(&CFileTransfer::OpenDirectory, TextVariant("/pub"), nullptr), 0);
        Outputs entry, end;
        ASSERT_EQ(Read(entry), 0) << Text(&CFileTransfer::get_LastErrorString);
        // The low 32 bits of 5000000000 are 705032704.
        EXPECT_EQ(entry.Summary(), std::string(" two blanks  705032704 2020-01-02 ") +
                                       (localize ? "12" : "03") + ":04:05 7:8 416 file");
        EXPECT_EQ(Read(end), fileErrorEndOfDirectory);
        EXPECT_EQ(Run(&CFileTransfer::CloseDirectory), 0);
    }
    Finish();
}

TEST_F(DirectoryMethods, ReadWithoutOpenFailsAndNonTextNameReportsTheLastError) {
    PeerScript script;
    Start(LoginScript(script));
    Outputs out;
    EXPECT_EQ(Read(out), fileErrorEndOfDirectory);
    VARIANT number = I4(3);
    EXPECT_EQ(Run(&CFileTransfer::ReadDirectory, &number, nullptr, nullptr, nullptr, nullptr,
                  nullptr, nullptr),
              fileErrorEndOfDirectory);  // the engine's error as it stood
    EXPECT_EQ(number.lVal, 3);           // untouched
    Finish();
}

TEST_F(DirectoryMethods, FileListFillsTextsAndByteArrays) {
    DataPeer first({.payload = "a.txt\r\nb c.txt\r\n"});
    DataPeer second({.payload = "0123456789abcdef\r\n"});
    DataPeer third({.payload = "xyz\r\n"});
    PeerScript script;
    ListingCommands(LoginScript(script), first, "NLST pub");
    ListingCommands(script, second, "LIST");
    ListingCommands(script, third, "LIST");
    Start(script);

    VARIANT text{};
    VARIANT nameOnly = I4(fileListNameOnly);
    EXPECT_EQ(Run(&CFileTransfer::GetFileList, TextVariant("pub"), &text, nullptr, &nameOnly), 0);
    ASSERT_EQ(text.vt, VT_BSTR);
    EXPECT_EQ(Utf8FromBstr(text.bstrVal), "a.txt\r\nb c.txt\r\n");

    // Length 0 with a text buffer does nothing at all.
    VARIANT zero = I4(0);
    EXPECT_EQ(Run(&CFileTransfer::GetFileList, nullptr, &text, &zero, nullptr), 0);
    EXPECT_EQ(Utf8FromBstr(text.bstrVal), "a.txt\r\nb c.txt\r\n");
    VariantClear(&text);

    // A byte array takes what fits, the rest of the listing is dropped.
    VARIANT bytes{};
    bytes.vt = VT_ARRAY | VT_UI1;
    bytes.parray = SafeArrayCreateVector(VT_UI1, 0, 8);
    EXPECT_EQ(Run(&CFileTransfer::GetFileList, nullptr, &bytes, nullptr, nullptr), 0);
    void* data = nullptr;
    SafeArrayAccessData(bytes.parray, &data);
    EXPECT_EQ(std::string(static_cast<char*>(data), 8), "01234567");
    SafeArrayUnaccessData(bytes.parray);
    VariantClear(&bytes);

    // A reference to an array not made yet gets one of the listing's length.
    SAFEARRAY* made = nullptr;
    VARIANT reference{};
    reference.vt = VT_BYREF | VT_ARRAY | VT_UI1;
    reference.pparray = &made;
    VARIANT hundred = I4(100);
    EXPECT_EQ(Run(&CFileTransfer::GetFileList, nullptr, &reference, &hundred, nullptr), 0);
    ASSERT_NE(made, nullptr);
    LONG upper = -1;
    SafeArrayGetUBound(made, 1, &upper);
    EXPECT_EQ(upper, 4);  // "xyz\r\n"
    SafeArrayDestroy(made);

    Finish();
}

TEST_F(DirectoryMethods, FileInformationMethodsFillTheirOutputs) {
    ScopedEnv zone("TZ", "XYZ-2");  // two hours east of UTC, no daylight saving
    PeerScript script;
    LoginScript(script, "bob", "/home/bob", " SIZE\r\n MDTM\r\n MLST size*;\r\n MFMT\r\n")
        .Reply("CWD docs", "250 Okay.\r\n")
        .Reply("PWD", "257 \"/home/bob/docs\"\r\n")
        .Reply("PWD", "257 \"/home/bob/docs\"\r\n")
        .Reply("SIZE a.txt", "213 5000000001\r\n")
        .Reply("MDTM a.txt", "213 20240615100000\r\n")
        .Reply("MDTM a.txt", "213 20240615100000\r\n")
        .Reply("MLST a.txt",
               "250-Listing a.txt\r\n modify=20240615100000;size=14;type=file;"
               "UNIX.mode=0640;UNIX.owner=1001;UNIX.group=1002; a.txt\r\n250 End\r\n")
        .Reply("MLST a.txt", "250-Listing a.txt\r\n type=file;UNIX.mode=0640; a.txt\r\n250 End\r\n")
        .Reply("MFMT 20240615100000 a.txt", "213 Modify=20240615100000; a.txt\r\n")
        .Reply("SITE CHMOD 755 a.txt", "200 SITE CHMOD command successful\r\n");
    Start(script);

    EXPECT_EQ(Run(&CFileTransfer::ChangeDirectory, TextVariant("docs")), 0);
    TextVariant path("old");
    EXPECT_EQ(Run(&CFileTransfer::GetDirectory, const_cast<VARIANT*>(path.get())), 0);
    EXPECT_EQ(Utf8FromBstr(path.get()->bstrVal), "/home/bob/docs");

    VARIANT size{};
    EXPECT_EQ(Run(&CFileTransfer::GetFileSize, TextVariant("a.txt"), &size), 0);
    EXPECT_EQ(size.vt, VT_I4);
    EXPECT_EQ(static_cast<DWORD>(size.lVal), 705032705u);  // the low 32 bits

    // Text outputs take a text (or a reference to one).
    BSTR text = SysAllocString(u"");
    VARIANT date{};
    date.vt = VT_BYREF | VT_BSTR;
    date.pbstrVal = &text;
    EXPECT_EQ(Run(&CFileTransfer::GetFileTime, TextVariant("a.txt"), &date), 0);
    EXPECT_EQ(Utf8FromBstr(text), "2024-06-15 10:00:00");
    ASSERT_EQ(control_->put_Localize(VARIANT_TRUE), S_OK);
    EXPECT_EQ(Run(&CFileTransfer::GetFileTime, TextVariant("a.txt"), &date), 0);
    EXPECT_EQ(Utf8FromBstr(text), "2024-06-15 12:00:00");
    SysFreeString(text);

    Outputs status;
    EXPECT_EQ(Run(&CFileTransfer::GetFileStatus, TextVariant("a.txt"), &status.v[1], &status.v[2],
                  &status.v[3], &status.v[4], &status.v[5], &status.v[6]),
              0);
    // MLST dates are UTC; the status passes them on as given.
    EXPECT_EQ(status.Summary(), " 14 2024-06-15 10:00:00 1001:1002 416 file");

    VARIANT perms{};
    EXPECT_EQ(Run(&CFileTransfer::GetFilePermissions, TextVariant("a.txt"), &perms), 0);
    EXPECT_EQ(perms.lVal, 0640);

    // With Localize a local 12:00 goes out as 10:00 UTC.
    EXPECT_EQ(
        Run(&CFileTransfer::SetFileTime, TextVariant("a.txt"), TextVariant("2024-06-15 12:00:00")),
        0);
    VARIANT mode = I4(0755);
    EXPECT_EQ(Run(&CFileTransfer::SetFilePermissions, TextVariant("a.txt"), &mode), 0);
    Finish();
    EXPECT_EQ(sink_->Count(kOnError), 0);
}

}  // namespace
