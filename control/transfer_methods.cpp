// GetFile, PutFile, GetData, PutData, PostFile and the multiple-file methods.
#include <iterator>
#include <string>

#include "control/FileTransfer.h"
#include "control/data_buffer.h"
#include "control/engine_text.h"
#include "control/http_methods.h"
#include "control/method_args.h"
#include "control/url_scheme.h"
#include "ftp/ftp.h"
#include "http/http.h"
#include "platform/last_error_guard.h"
#include "platform/memory.h"
#include "platform/text.h"
#include "resources/errors.h"

namespace {

constexpr std::u16string_view kDefaultFieldName = u"File1";

// Restart offsets travel as 32-bit numbers; the engines take them unsigned.
uint64_t RestartOffsetOf(LONG value) {
    return static_cast<uint64_t>(static_cast<ULONG>(value));
}

// Owns the global block FtpGetData hands over.
class GlobalBlock {
  public:
    GlobalBlock() = default;
    ~GlobalBlock() {
        if (handle_) GlobalFree(handle_);
    }
    GlobalBlock(const GlobalBlock&) = delete;
    GlobalBlock& operator=(const GlobalBlock&) = delete;
    HGLOBAL* Receive() { return &handle_; }
    HGLOBAL get() const { return handle_; }

  private:
    HGLOBAL handle_ = nullptr;
};

}  // namespace

HRESULT CFileTransfer::ResolveRemoteName(const VARIANT* remoteFile, std::u16string* name) {
    const TextArgument remote = ReadTextArgument(remoteFile);
    if (FAILED(remote.hr)) return remote.hr;
    if (!remote.value) {
        *name = state_.resource;
        return S_OK;
    }
    if (DetectUrlScheme(Utf16ToUtf8(*remote.value)) == fileServerUndefined) {
        *name = *remote.value;
        return S_OK;
    }
    BSTR url = SysAllocStringLen(remote.value->data(), static_cast<UINT>(remote.value->size()));
    if (!url) return E_OUTOFMEMORY;
    const HRESULT hr = put_URL(url);
    SysFreeString(url);
    if (FAILED(hr)) return hr;
    *name = state_.resource;
    return S_OK;
}

HRESULT CFileTransfer::ConnectForCall(bool* opened) {
    *opened = false;
    if (IsConnected()) return S_OK;
    // A failed open is already reported (LastError, no event) and ends the
    // method with its HRESULT whatever ThrowError says.
    if (HRESULT hr = OpenConnection(); FAILED(hr)) return hr;
    *opened = true;
    return S_OK;
}

void CFileTransfer::CloseCallConnection(bool opened) {
    if (!opened) return;
    // The transfer's error outlives the disconnect.
    if (state_.serverType == fileServerHTTP) {
        LastErrorGuard<&HttpGetLastError, &HttpSetLastError> keepError;
        Disconnect(nullptr);
    } else {
        LastErrorGuard<&FtpGetLastError, &FtpSetLastError> keepError;
        Disconnect(nullptr);
    }
}

HRESULT CFileTransfer::TransferFile(FileDirection direction, const VARIANT* localFile,
                                    const VARIANT* remoteFile, const VARIANT* restartOffset,
                                    VARIANT* error, bool wide) {
    StartEnginesIfNeeded();
    SetErrorResult(error, 0);
    const TextArgument local = ReadTextArgument(localFile);
    if (FAILED(local.hr)) return local.hr;
    std::u16string remote;
    if (HRESULT hr = ResolveRemoteName(remoteFile, &remote); FAILED(hr)) return hr;
    uint64_t from = 0;
    if (wide) {
        const Int64Argument offset = ReadInt64Argument(restartOffset);
        if (FAILED(offset.hr)) return offset.hr;
        if (offset.value.value_or(0) < 0) return E_INVALIDARG;
        from = static_cast<uint64_t>(offset.value.value_or(0));
    } else {
        const LongArgument offset = ReadLongArgument(restartOffset);
        if (FAILED(offset.hr)) return offset.hr;
        from = RestartOffsetOf(offset.value.value_or(0));
    }
    bool opened = false;
    if (HRESULT hr = ConnectForCall(&opened); FAILED(hr)) return hr;

    state_.connectionState = fileStateTransfer;
    state_.transferFileName = remote;
    state_.responseFileName.clear();
    int result = -1;
    if (state_.serverType == fileServerFTP) {
        const EngineText localName(local.value.value_or(u""));
        const EngineText remoteName(remote);
        const DWORD flags = state_.appendFile ? FTP_TRANSFER_APPEND : 0;
        result = direction == FileDirection::Download
                     ? FtpGetFile(state_.clientHandle, localName.c_str(), remoteName.c_str(), flags,
                                  from)
                     : FtpPutFile(state_.clientHandle, localName.c_str(), remoteName.c_str(), flags,
                                  from);
    } else {
        const std::u16string localName = local.value.value_or(u"");
        if (direction == FileDirection::Upload) {
            result = HttpUploadFile(state_.clientHandle, localName, remote);
        } else if (state_.appendFile) {
            // HTTP has no appending download: refused before the file is touched.
            HttpSetLastError(MakeErrorCode(fileErrorOperationNotSupported));
        } else {
            result = HttpGetFileFollowingRedirects(localName, remote, from);
        }
    }
    if (IsConnected()) state_.connectionState = fileStateIdle;
    CloseCallConnection(opened);
    return result == 0 ? S_OK : ReportMethodFailure(error);
}

HRESULT CFileTransfer::GetFile(const VARIANT* localFile, const VARIANT* remoteFile,
                               const VARIANT* restartOffset, VARIANT* error) {
    return TransferFile(FileDirection::Download, localFile, remoteFile, restartOffset, error);
}

HRESULT CFileTransfer::PutFile(const VARIANT* localFile, const VARIANT* remoteFile,
                               const VARIANT* restartOffset, VARIANT* error) {
    return TransferFile(FileDirection::Upload, localFile, remoteFile, restartOffset, error);
}

HRESULT CFileTransfer::GetFile64(const VARIANT* localFile, const VARIANT* remoteFile,
                                 const VARIANT* restartOffset, VARIANT* error) {
    return TransferFile(FileDirection::Download, localFile, remoteFile, restartOffset, error,
                        true);
}

HRESULT CFileTransfer::PutFile64(const VARIANT* localFile, const VARIANT* remoteFile,
                                 const VARIANT* restartOffset, VARIANT* error) {
    return TransferFile(FileDirection::Upload, localFile, remoteFile, restartOffset, error, true);
}

HRESULT CFileTransfer::GetData(const VARIANT* remoteFile, VARIANT* buffer, VARIANT* length,
                               const VARIANT*, VARIANT* error) {
    StartEnginesIfNeeded();
    SetErrorResult(error, 0);
    std::u16string remote;
    if (HRESULT hr = ResolveRemoteName(remoteFile, &remote); FAILED(hr)) return hr;
    bool opened = false;
    if (HRESULT hr = ConnectForCall(&opened); FAILED(hr)) return hr;

    GlobalBlock block;
    DWORD received = 0;  // 0 asks the engine for a block of its own
    int result = -1;
    if (state_.serverType == fileServerFTP) {
        const EngineText remoteName(remote);
        result = FtpGetData(state_.clientHandle, remoteName.c_str(), block.Receive(), &received);
    } else {
        result = HttpDownloadData(state_.clientHandle, remote, block.Receive(), &received);
    }
    CloseCallConnection(opened);
    if (result < 0) return ReportMethodFailure(error);

    ULONG stored = 0;
    if (block.get()) {
        const auto* bytes = static_cast<const BYTE*>(GlobalLock(block.get()));
        stored = FillDataBuffer(buffer, std::span<const BYTE>(bytes, bytes ? received : 0));
        GlobalUnlock(block.get());
    } else {
        stored = FillDataBuffer(buffer, {});
    }
    return StoreLongResult(length, static_cast<LONG>(stored));
}

HRESULT CFileTransfer::PutData(const VARIANT* remoteFile, const VARIANT* buffer,
                               const VARIANT* length, const VARIANT*, VARIANT* error) {
    StartEnginesIfNeeded();
    SetErrorResult(error, 0);
    std::u16string remote;
    if (HRESULT hr = ResolveRemoteName(remoteFile, &remote); FAILED(hr)) return hr;
    // The buffer is checked before a connection is opened for it.
    const DataSource data(buffer);
    if (FAILED(data.hr())) return data.hr();
    const LongArgument limit = ReadLongArgument(length);
    if (FAILED(limit.hr)) return limit.hr;
    auto count = static_cast<DWORD>(data.bytes().size());
    if (limit.value && *limit.value >= 0) count = std::min(count, static_cast<DWORD>(*limit.value));
    if (limit.value && *limit.value < 0) count = 0;
    bool opened = false;
    if (HRESULT hr = ConnectForCall(&opened); FAILED(hr)) return hr;

    int result = -1;
    if (state_.serverType == fileServerFTP) {
        const EngineText remoteName(remote);
        result = FtpPutData(state_.clientHandle, remoteName.c_str(), data.bytes().data(), count);
    } else {
        result = HttpUploadData(state_.clientHandle, remote, data.bytes().data(), count);
    }
    CloseCallConnection(opened);
    return result < 0 ? ReportMethodFailure(error) : S_OK;
}

HRESULT CFileTransfer::PostFile(const VARIANT* localFile, const VARIANT* remoteFile,
                                const VARIANT* fieldName, const VARIANT* options, VARIANT* error) {
    const TextArgument local = ReadTextArgument(localFile);
    if (FAILED(local.hr)) return local.hr;
    std::u16string remote;
    if (HRESULT hr = ResolveRemoteName(remoteFile, &remote); FAILED(hr)) return hr;
    const TextArgument field = ReadTextArgument(fieldName);
    if (FAILED(field.hr)) return field.hr;
    const LongArgument flags = ReadLongArgument(options);
    if (FAILED(flags.hr)) return flags.hr;
    SetErrorResult(error, 0);
    if (state_.serverType != fileServerHTTP) {
        FtpSetLastError(MakeErrorCode(fileErrorOperationNotSupported));
        SetErrorResult(error, fileErrorOperationNotSupported);
        return ReportError(0, state_.throwError, true);
    }
    bool opened = false;
    if (HRESULT hr = ConnectForCall(&opened); FAILED(hr)) return hr;
    const int result = HttpPostForm(state_.clientHandle, local.value.value_or(u""), remote,
                                    field.value.value_or(std::u16string(kDefaultFieldName)),
                                    static_cast<DWORD>(flags.value.value_or(0)));
    CloseCallConnection(opened);
    return result < 0 ? ReportMethodFailure(error) : S_OK;
}

// Neither method connects by itself, and only the FTP engine copies whole
// directories.
HRESULT CFileTransfer::MultipleFiles(FileDirection direction, const VARIANT* localDir,
                                     const VARIANT* remoteDir, const VARIANT* fileMask,
                                     VARIANT* error) {
    StartEnginesIfNeeded();
    SetErrorResult(error, 0);
    if (state_.serverType != fileServerFTP) return ReportNotSupported(error);
    if (!IsConnected()) return ReportNotConnected(error);
    // Absent and empty texts mean the same to the engine: the current
    // directories, and no mask.
    const VARIANT* arguments[] = {localDir, remoteDir, fileMask};
    std::u16string texts[std::size(arguments)];
    for (std::size_t i = 0; i < std::size(arguments); ++i) {
        const TextArgument text = ReadTextArgument(arguments[i]);
        if (FAILED(text.hr)) return text.hr;
        texts[i] = text.value.value_or(u"");
    }
    const EngineText local(texts[0]), remote(texts[1]), mask(texts[2]);
    const auto copy =
        direction == FileDirection::Download ? &FtpGetMultipleFiles : &FtpPutMultipleFiles;
    if (copy(state_.clientHandle, local.c_str(), remote.c_str(), mask.c_str()) == 0) return S_OK;
    return ReportMethodFailure(error);
}

HRESULT CFileTransfer::GetMultipleFiles(const VARIANT* localDir, const VARIANT* remoteDir,
                                        const VARIANT* fileMask, VARIANT* error) {
    return MultipleFiles(FileDirection::Download, localDir, remoteDir, fileMask, error);
}

HRESULT CFileTransfer::PutMultipleFiles(const VARIANT* localDir, const VARIANT* remoteDir,
                                        const VARIANT* fileMask, VARIANT* error) {
    return MultipleFiles(FileDirection::Upload, localDir, remoteDir, fileMask, error);
}
