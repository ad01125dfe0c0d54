// The directory and file-information methods: the remote working directory,
// listings (raw or parsed), the listing as one text, and a file's status,
// size, time and permissions.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "control/FileTransfer.h"
#include "control/engine_text.h"
#include "control/http_methods.h"
#include "control/method_args.h"
#include "ftp/fileops.h"
#include "ftp/ftp.h"
#include "platform/text.h"
#include "resources/errors.h"

namespace {

constexpr int kDirectoryBufferSize = 260;
constexpr int kRawLineBufferSize = 1024;
constexpr LONG kDefaultFileListSize = 0x8000;

// ---- Outputs of one entry -----------------------------------------------------

// The variant an output writes to (behind a reference to a variant), or null
// when the caller left the output out.
VARIANT* OutputTarget(VARIANT* output) {
    if (output && output->vt == (VT_BYREF | VT_VARIANT)) output = output->pvarVal;
    if (!output || output->vt == VT_ERROR) return nullptr;
    return output;
}

HRESULT PutText(VARIANT* output, std::u16string_view text) {
    VARIANT* target = OutputTarget(output);
    if (!target) return S_OK;
    if (target->vt & VT_ARRAY) return DISP_E_TYPEMISMATCH;
    if ((target->vt & VT_BYREF) && target->vt != (VT_BYREF | VT_BSTR)) return DISP_E_TYPEMISMATCH;
    BSTR value = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!value) return E_OUTOFMEMORY;
    if (target->vt & VT_BYREF) {
        SysFreeString(*target->pbstrVal);
        *target->pbstrVal = value;
        return S_OK;
    }
    VariantClear(target);
    target->vt = VT_BSTR;
    target->bstrVal = value;
    return S_OK;
}

HRESULT PutLong(VARIANT* output, LONG value) {
    VARIANT* target = OutputTarget(output);
    if (!target) return S_OK;
    if (target->vt & VT_ARRAY) return DISP_E_TYPEMISMATCH;
    if (target->vt & VT_BYREF) return StoreLongResult(target, value);
    VariantClear(target);
    target->vt = VT_I4;
    target->lVal = value;
    return S_OK;
}

HRESULT PutBool(VARIANT* output, bool value) {
    VARIANT* target = OutputTarget(output);
    if (!target) return S_OK;
    const VARIANT_BOOL flag = value ? VARIANT_TRUE : VARIANT_FALSE;
    if (target->vt & VT_ARRAY) return DISP_E_TYPEMISMATCH;
    if (target->vt == (VT_BYREF | VT_BOOL)) {
        *target->pboolVal = flag;
        return S_OK;
    }
    if (target->vt & VT_BYREF) return StoreLongResult(target, flag);
    VariantClear(target);
    target->vt = VT_BOOL;
    target->boolVal = flag;
    return S_OK;
}

struct EntryOutputs {
    VARIANT* name;
    VARIANT* length;
    VARIANT* date;
    VARIANT* owner;
    VARIANT* group;
    VARIANT* perms;
    VARIANT* isDirectory;
};

using EntryValues = DirectoryEntryValues;

// The 32-bit members hand out the low 32 bits of a size; the 64-bit ones
// (wide) the whole size as VT_I8.
HRESULT PutLength(VARIANT* output, LONGLONG length, bool wide) {
    if (!wide) return PutLong(output, static_cast<LONG>(static_cast<std::uint32_t>(length)));
    VARIANT* target = OutputTarget(output);
    if (!target) return S_OK;
    if (target->vt & VT_ARRAY) return DISP_E_TYPEMISMATCH;
    return StoreInt64Result(target, length);
}

HRESULT StoreEntry(const EntryOutputs& out, const EntryValues& values, bool wide = false) {
    const HRESULT results[] = {
        PutText(out.name, values.name),
        PutLength(out.length, values.length, wide),
        PutText(out.date, values.date),
        PutText(out.owner, values.owner),
        PutText(out.group, values.group),
        PutLong(out.perms, values.perms),
        PutBool(out.isDirectory, values.isDirectory),
    };
    for (HRESULT hr : results)
        if (FAILED(hr)) return hr;
    return S_OK;
}

// ReadDirectory's name output must be empty or a text.
bool IsTextOrEmpty(const VARIANT* output) {
    if (output && output->vt == (VT_BYREF | VT_VARIANT)) output = output->pvarVal;
    if (!output) return false;
    return output->vt == VT_EMPTY || output->vt == VT_BSTR || output->vt == (VT_BYREF | VT_BSTR);
}

std::u16string TextOf(const char* text) {
    return Utf8ToUtf16(std::string_view(text, strnlen(text, FTP_ENTRY_NAME_SIZE)));
}

// An entry without a date (year 0) gives an empty text; otherwise the
// platform's date-to-text conversion.
std::u16string DateToText(const SYSTEMTIME& time) {
    if (time.wYear == 0) return {};
    VARIANT date;
    VariantInit(&date);
    date.vt = VT_DATE;
    if (!SystemTimeToVariantTime(&time, &date.date)) return {};
    VARIANT text;
    VariantInit(&text);
    std::u16string result;
    if (SUCCEEDED(VariantChangeType(&text, &date, 0, VT_BSTR))) result = BstrView(text.bstrVal);
    VariantClear(&text);
    return result;
}

EntryValues ValuesOf(const FtpDirectoryEntry& entry) {
    EntryValues values;
    values.name = TextOf(entry.name);
    values.owner = TextOf(entry.owner);
    values.group = TextOf(entry.group);
    values.date = DateToText(entry.date);
    values.length = static_cast<LONGLONG>(entry.size);
    values.perms = static_cast<LONG>(entry.permissions);
    values.isDirectory = entry.directory != 0;
    return values;
}

std::u16string_view WithoutLineEnd(std::u16string_view line) {
    while (!line.empty() && (line.back() == u'\n' || line.back() == u'\r'))
        line.remove_suffix(1);
    return line;
}

// ---- GetFileList's buffer ---------------------------------------------------------

enum class BufferKind { None, Text, Bytes, NewBytes };

struct FileListBuffer {
    BufferKind kind = BufferKind::None;
    VARIANT* target = nullptr;
    SAFEARRAY* array = nullptr;
    LONG capacity = 0;
};

// How much the buffer takes and how it receives the text.
FileListBuffer DescribeBuffer(VARIANT* buffer, std::optional<LONG> length) {
    FileListBuffer result;
    VARIANT* target = buffer;
    if (target && target->vt == (VT_BYREF | VT_VARIANT)) target = target->pvarVal;
    if (!target) return result;
    result.target = target;
    const VARTYPE vt = target->vt;
    if (vt == VT_EMPTY || vt == VT_BSTR || vt == (VT_BYREF | VT_BSTR)) {
        result.kind = BufferKind::Text;
        result.capacity = length.value_or(kDefaultFileListSize);
        return result;
    }
    if (vt != (VT_ARRAY | VT_UI1) && vt != (VT_BYREF | VT_ARRAY | VT_UI1)) return result;
    SAFEARRAY* array = (vt & VT_BYREF) ? *target->pparray : target->parray;
    if (!array) {
        if (!(vt & VT_BYREF)) return result;
        result.kind = BufferKind::NewBytes;
        result.capacity = length.value_or(0);
        return result;
    }
    if (SafeArrayGetDim(array) != 1) return result;
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(array, 1, &lower);
    SafeArrayGetUBound(array, 1, &upper);
    result.kind = BufferKind::Bytes;
    result.array = array;
    result.capacity = upper - lower + 1;
    if (length && *length >= 0 && *length < result.capacity) result.capacity = *length;
    return result;
}

HRESULT StoreFileList(const FileListBuffer& buffer, std::string_view text) {
    switch (buffer.kind) {
        case BufferKind::Text:
            return PutText(buffer.target, Utf8ToUtf16(text));
        case BufferKind::Bytes: {
            void* data = nullptr;
            if (HRESULT hr = SafeArrayAccessData(buffer.array, &data); FAILED(hr)) return hr;
            std::memcpy(data, text.data(), text.size());
            return SafeArrayUnaccessData(buffer.array);
        }
        case BufferKind::NewBytes: {
            SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(text.size()));
            if (!array) return E_OUTOFMEMORY;
            void* data = nullptr;
            SafeArrayAccessData(array, &data);
            if (!text.empty()) std::memcpy(data, text.data(), text.size());
            SafeArrayUnaccessData(array);
            *buffer.target->pparray = array;
            return S_OK;
        }
        case BufferKind::None:
            break;
    }
    return S_OK;
}

}  // namespace

// ---- Shared failure paths ------------------------------------------------------

HRESULT CFileTransfer::ReportUnsupportedDirectly(VARIANT* error) {
    SetErrorResult(error, fileErrorOperationNotSupported);
    return ReportError(MakeErrorCode(fileErrorOperationNotSupported), state_.throwError, true);
}

// ---- The working directory ---------------------------------------------------------

HRESULT CFileTransfer::ChangeDirectory(const VARIANT* dirName, VARIANT* error) {
    SetErrorResult(error, 0);
    if (state_.serverType == fileServerHTTP) return ReportNotSupported(error);
    if (!IsConnected()) return ReportNotConnected(error);
    StartEnginesIfNeeded();
    const TextArgument name = ReadTextArgument(dirName);
    if (FAILED(name.hr)) return name.hr;
    const EngineText path(name.value.value_or(u""));
    if (FtpChangeDirectory(state_.clientHandle, path.c_str()) >= 0) return S_OK;
    ReportError(0, true, false);
    return ReportMethodFailure(error);
}

HRESULT CFileTransfer::GetDirectory(VARIANT* remotePath, VARIANT* error) {
    if (HRESULT hr = StoreTextResult(remotePath, u""); FAILED(hr)) return hr;
    SetErrorResult(error, 0);
    if (state_.serverType == fileServerHTTP) return ReportNotSupported(error);
    std::array<char, kDirectoryBufferSize> path{};
    if (FtpGetCurrentDirectory(state_.clientHandle, path.data(), kDirectoryBufferSize) < 0) {
        return ReportMethodFailure(error);
    }
    return StoreTextResult(remotePath, Utf8ToUtf16(path.data()));
}

// ---- Listings ------------------------------------------------------------------------

HRESULT CFileTransfer::OpenDirectory(const VARIANT* dirName, const VARIANT* parseList,
                                     VARIANT* error) {
    StartEnginesIfNeeded();
    SetErrorResult(error, 0);
    if (state_.serverType == fileServerHTTP) return ReportNotSupported(error);
    if (!IsConnected()) return ReportNotConnected(error);
    const TextArgument name = ReadTextArgument(dirName);
    if (FAILED(name.hr)) return name.hr;
    state_.parseDirectory = 1;
    if (!IsAbsentArgument(parseList)) {
        VARIANT flag;
        VariantInit(&flag);
        const VARIANT* value =
            parseList->vt == (VT_BYREF | VT_VARIANT) ? parseList->pvarVal : parseList;
        if (HRESULT hr = VariantChangeType(&flag, value, 0, VT_BOOL); FAILED(hr)) return hr;
        state_.parseDirectory = flag.boolVal;
    }
    const EngineText path(name.value.value_or(u""));
    // Raw lines are the server's usual listing (LIST), with or without UseMlsd.
    const bool raw = state_.parseDirectory == 0;
    if (raw && state_.useMlsd) FtpSetListingFacts(state_.clientHandle, FALSE);
    const int opened = FtpOpenDirectory(state_.clientHandle, path.c_str());
    if (raw && state_.useMlsd) FtpSetListingFacts(state_.clientHandle, TRUE);
    if (opened < 0) return ReportMethodFailure(error);
    state_.connectionState = fileStateFileList;
    state_.firstEntryPending = 1;
    return S_OK;
}

HRESULT CFileTransfer::ReadDirectory(VARIANT* fileName, VARIANT* fileLength, VARIANT* fileDate,
                                     VARIANT* fileOwner, VARIANT* fileGroup, VARIANT* filePerms,
                                     VARIANT* isDirectory, VARIANT* error) {
    return ReadEntry(fileName, fileLength, fileDate, fileOwner, fileGroup, filePerms, isDirectory,
                     error, false);
}

HRESULT CFileTransfer::ReadDirectory64(VARIANT* fileName, VARIANT* fileLength, VARIANT* fileDate,
                                       VARIANT* fileOwner, VARIANT* fileGroup, VARIANT* filePerms,
                                       VARIANT* isDirectory, VARIANT* error) {
    return ReadEntry(fileName, fileLength, fileDate, fileOwner, fileGroup, filePerms, isDirectory,
                     error, true);
}

HRESULT CFileTransfer::ReadEntry(VARIANT* fileName, VARIANT* fileLength, VARIANT* fileDate,
                                 VARIANT* fileOwner, VARIANT* fileGroup, VARIANT* filePerms,
                                 VARIANT* isDirectory, VARIANT* error, bool wide) {
    StartEnginesIfNeeded();
    SetErrorResult(error, 0);
    if (state_.serverType == fileServerHTTP) return ReportNotSupported(error);
    if (!IsConnected()) return ReportNotConnected(error);
    if (!IsTextOrEmpty(fileName)) return ReportMethodFailure(error);
    const EntryOutputs outputs{fileName,  fileLength, fileDate,   fileOwner,
                               fileGroup, filePerms,  isDirectory};
    state_.entry = {};
    if (HRESULT hr = StoreEntry(outputs, {}, wide); FAILED(hr)) return hr;

    if (state_.parseDirectory == 0) {
        std::array<char, kRawLineBufferSize> line{};
        const int length = FtpRead(state_.clientHandle, line.data(), kRawLineBufferSize);
        if (length < 0) return ReportMethodFailure(error);
        // The end of the data ends a raw listing as it ends a parsed one.
        if (length == 0) {
            FtpSetLastError(MakeErrorCode(fileErrorEndOfDirectory));
            return ReportMethodFailure(error);
        }
        const std::u16string text =
            Utf8ToUtf16(std::string_view(line.data(), static_cast<std::size_t>(length)));
        state_.entry.name = WithoutLineEnd(text);
        return PutText(fileName, state_.entry.name);
    }
    FtpDirectoryEntry entry{};
    const bool first = state_.firstEntryPending == 1;
    state_.firstEntryPending = 0;
    const int found = first ? FtpGetFirstEntry(state_.clientHandle, &entry)
                            : FtpGetNextEntry(state_.clientHandle, &entry);
    if (!found) return ReportMethodFailure(error);
    // MLSD dates are UTC; Localize asks for local time, as GetFileTime does.
    if (state_.localize && entry.date.wYear != 0 && FtpListingHasFacts(state_.clientHandle)) {
        SYSTEMTIME local{};
        if (SystemTimeToTzSpecificLocalTime(nullptr, &entry.date, &local)) entry.date = local;
    }
    state_.entry = ValuesOf(entry);
    return StoreEntry(outputs, state_.entry, wide);
}

HRESULT CFileTransfer::CloseDirectory(VARIANT* error) {
    SetErrorResult(error, 0);
    if (state_.serverType == fileServerHTTP) return ReportNotSupported(error);
    if (!IsConnected()) {
        FtpSetLastError(MakeErrorCode(fileErrorNotConnected));
        return ReportMethodFailure(error);
    }
    FtpCloseDirectory(state_.clientHandle);
    state_.connectionState = fileStateIdle;
    return S_OK;
}

HRESULT CFileTransfer::GetFileList(const VARIANT* remotePath, VARIANT* buffer,
                                   const VARIANT* length, const VARIANT* options, VARIANT* error) {
    SetErrorResult(error, 0);
    if (state_.serverType != fileServerFTP) return ReportUnsupportedDirectly(error);
    const TextArgument path = ReadTextArgument(remotePath);
    if (FAILED(path.hr)) return path.hr;
    const LongArgument flags = ReadLongArgument(options);
    if (FAILED(flags.hr)) return flags.hr;
    const LongArgument size = ReadLongArgument(length);
    if (FAILED(size.hr)) return size.hr;
    const FileListBuffer target = DescribeBuffer(buffer, size.value);
    if (target.kind == BufferKind::None || target.capacity <= 0) return S_OK;

    std::vector<char> text(static_cast<std::size_t>(target.capacity) + 1);
    const EngineText name(path.value.value_or(u""));
    const BOOL nameOnly = (flags.value.value_or(fileListDefault) & fileListNameOnly) ? TRUE : FALSE;
    const int got = FtpGetFileList(state_.clientHandle, name.c_str(), nameOnly, text.data(),
                                   static_cast<int>(text.size()));
    if (got < 0) return ReportMethodFailure(error);
    return StoreFileList(target, std::string_view(text.data(), static_cast<std::size_t>(got)));
}

// ---- One file's information --------------------------------------------------------

HRESULT CFileTransfer::GetFileStatus(const VARIANT* fileName, VARIANT* fileLength,
                                     VARIANT* fileDate, VARIANT* fileOwner, VARIANT* fileGroup,
                                     VARIANT* filePerms, VARIANT* isDirectory, VARIANT* error) {
    return FileStatus(fileName, fileLength, fileDate, fileOwner, fileGroup, filePerms, isDirectory,
                      error, false);
}

HRESULT CFileTransfer::GetFileStatus64(const VARIANT* fileName, VARIANT* fileLength,
                                       VARIANT* fileDate, VARIANT* fileOwner, VARIANT* fileGroup,
                                       VARIANT* filePerms, VARIANT* isDirectory, VARIANT* error) {
    return FileStatus(fileName, fileLength, fileDate, fileOwner, fileGroup, filePerms, isDirectory,
                      error, true);
}

HRESULT CFileTransfer::FileStatus(const VARIANT* fileName, VARIANT* fileLength, VARIANT* fileDate,
                                  VARIANT* fileOwner, VARIANT* fileGroup, VARIANT* filePerms,
                                  VARIANT* isDirectory, VARIANT* error, bool wide) {
    StartEnginesIfNeeded();
    SetErrorResult(error, 0);
    if (state_.serverType == fileServerHTTP) return ReportNotSupported(error);
    if (!IsConnected()) return ReportNotConnected(error);
    const TextArgument name = ReadTextArgument(fileName);
    if (FAILED(name.hr)) return name.hr;
    const EntryOutputs outputs{nullptr,   fileLength, fileDate,   fileOwner,
                               fileGroup, filePerms,  isDirectory};
    state_.entry = {};
    if (HRESULT hr = StoreEntry(outputs, {}, wide); FAILED(hr)) return hr;
    const EngineText remote(name.value.value_or(u""));
    // The engine's own record keeps the whole size for the 64-bit member.
    FtpDirectoryEntry entry{};
    if (!FtpGetFileInfo(state_.clientHandle, remote.c_str(), &entry)) {
        return ReportMethodFailure(error);
    }
    state_.entry = ValuesOf(entry);
    return StoreEntry(outputs, state_.entry, wide);
}

HRESULT CFileTransfer::GetFileSize(const VARIANT* fileName, VARIANT* fileSize, VARIANT* error) {
    const TextArgument name = ReadTextArgument(fileName);
    if (FAILED(name.hr)) return name.hr;
    if (HRESULT hr = StoreLongResult(fileSize, 0); FAILED(hr)) return hr;
    SetErrorResult(error, 0);
    const EngineText remote(name.value.value_or(u""));
    DWORD size = 0;
    const int found = state_.serverType == fileServerHTTP
                          ? HttpRemoteFileSize(state_.clientHandle, name.value.value_or(u""), &size)
                          : FtpGetFileSize(state_.clientHandle, remote.c_str(), &size);
    if (found < 0) return ReportMethodFailure(error);
    return StoreLongResult(fileSize, static_cast<LONG>(size));
}

HRESULT CFileTransfer::GetFileSize64(const VARIANT* fileName, VARIANT* fileSize, VARIANT* error) {
    const TextArgument name = ReadTextArgument(fileName);
    if (FAILED(name.hr)) return name.hr;
    if (HRESULT hr = StoreInt64Result(fileSize, 0); FAILED(hr)) return hr;
    SetErrorResult(error, 0);
    const EngineText remote(name.value.value_or(u""));
    uint64_t size = 0;
    int64_t ftpSize = 0;
    const int found =
        state_.serverType == fileServerHTTP
            ? HttpRemoteFileSize64(state_.clientHandle, name.value.value_or(u""), &size)
            : FtpGetFileSize64(state_.clientHandle, remote.c_str(), &ftpSize);
    if (found < 0) return ReportMethodFailure(error);
    if (state_.serverType != fileServerHTTP) size = static_cast<uint64_t>(ftpSize);
    return StoreInt64Result(fileSize, static_cast<LONGLONG>(size));
}

HRESULT CFileTransfer::GetFileTime(const VARIANT* fileName, VARIANT* fileDate, VARIANT* error) {
    const TextArgument name = ReadTextArgument(fileName);
    if (FAILED(name.hr)) return name.hr;
    if (HRESULT hr = StoreTextResult(fileDate, u""); FAILED(hr)) return hr;
    SetErrorResult(error, 0);
    const EngineText remote(name.value.value_or(u""));
    SYSTEMTIME time{};
    const int found =
        state_.serverType == fileServerHTTP
            ? HttpRemoteFileTime(state_.clientHandle, name.value.value_or(u""), &time,
                                 state_.localize)
            : FtpGetFileTime(state_.clientHandle, remote.c_str(), &time, state_.localize);
    if (found < 0) return ReportMethodFailure(error);
    return StoreTextResult(fileDate, DateToText(time));
}

HRESULT CFileTransfer::GetFilePermissions(const VARIANT* fileName, VARIANT* filePerms,
                                          VARIANT* error) {
    const TextArgument name = ReadTextArgument(fileName);
    if (FAILED(name.hr)) return name.hr;
    if (HRESULT hr = StoreLongResult(filePerms, 0); FAILED(hr)) return hr;
    SetErrorResult(error, 0);
    if (state_.serverType == fileServerHTTP) return ReportUnsupportedDirectly(error);
    const EngineText remote(name.value.value_or(u""));
    DWORD permissions = 0;
    if (FtpGetFilePermissions(state_.clientHandle, remote.c_str(), &permissions) < 0) {
        return ReportMethodFailure(error);
    }
    return StoreLongResult(filePerms, static_cast<LONG>(permissions));
}
