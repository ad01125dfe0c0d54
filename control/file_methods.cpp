// Raw commands, file management (delete, rename, directories, permissions,
// times, verification, file types) and the shared failure paths of the
// methods that return Error.
#include "control/FileTransfer.h"
#include "control/engine_text.h"
#include "control/http_methods.h"
#include "control/method_args.h"
#include "ftp/fileops.h"
#include "ftp/ftp.h"
#include "http/http.h"
#include "http/transfers.h"
#include "resources/errors.h"

void CFileTransfer::SetEngineLastError(int number) {
    if (state_.serverType == fileServerHTTP) {
        HttpSetLastError(static_cast<DWORD>(number));
    } else {
        FtpSetLastError(static_cast<DWORD>(number));
    }
}

// The engine's handle error, which ReportError turns into "not connected" while
// no connection is open; Error keeps the handle error's number.
HRESULT CFileTransfer::ReportNotConnected(VARIANT* error) {
    SetEngineLastError(fileErrorInvalidHandle);
    SetErrorResult(error, fileErrorInvalidHandle);
    return ReportError(0, state_.throwError, true);
}

HRESULT CFileTransfer::ReportNotSupported(VARIANT* error) {
    SetEngineLastError(fileErrorOperationNotSupported);
    SetErrorResult(error, fileErrorOperationNotSupported);
    return ReportError(0, state_.throwError, true);
}

HRESULT CFileTransfer::ReportMethodFailure(VARIANT* error) {
    SetErrorResult(error, ErrorNumber(EngineLastError()));
    return ReportError(0, state_.throwError, true);
}

HRESULT CFileTransfer::Command(const VARIANT* command, VARIANT* error) {
    SetErrorResult(error, 0);
    if (!state_.enginesInitialized) InitializeEngines();
    if (!IsConnected()) return ReportNotConnected(error);
    const TextArgument text = ReadTextArgument(command);
    if (FAILED(text.hr)) return text.hr;
    if (state_.serverType != fileServerFTP) return ReportNotSupported(error);
    const EngineText line(text.value.value_or(u""));
    if (FtpCommand(state_.clientHandle, line.c_str(), nullptr) >= 0) return S_OK;
    return ReportMethodFailure(error);
}

// ---- File management -------------------------------------------------------------

namespace {

// An automation date from any variant that converts to one; the conversion's
// HRESULT when it does not.
HRESULT ReadDateArgument(const VARIANT* argument, DATE* date) {
    if (argument && argument->vt == (VT_BYREF | VT_VARIANT)) argument = argument->pvarVal;
    if (argument && argument->vt == VT_DATE) {
        *date = argument->date;
        return S_OK;
    }
    VARIANT converted;
    VariantInit(&converted);
    if (!argument) return DISP_E_TYPEMISMATCH;
    const HRESULT hr = VariantChangeType(&converted, argument, 0, VT_DATE);
    if (SUCCEEDED(hr)) *date = converted.date;
    return hr;
}

// A local time as UTC, through the platform's file-time conversions.
bool LocalToUtc(SYSTEMTIME& time) {
    FILETIME local{}, utc{};
    return SystemTimeToFileTime(&time, &local) && LocalFileTimeToFileTime(&local, &utc) &&
           FileTimeToSystemTime(&utc, &time);
}

int DeleteName(LONGLONG client, const char* name, const char*) {
    return FtpDeleteFile(client, name);
}
// DELETE answers with its status; only success counts here.
int HttpDeleteName(LONGLONG client, const char* name, const char*) {
    return HttpDeleteFile(static_cast<HttpClient>(client), name) < 0 ? -1 : 0;
}
int RenameName(LONGLONG client, const char* oldName, const char* newName) {
    return FtpRenameFile(client, oldName, newName);
}
int MakeDirectoryName(LONGLONG client, const char* name, const char*) {
    return FtpMakeDirectory(client, name);
}
int RemoveDirectoryName(LONGLONG client, const char* name, const char*) {
    return FtpRemoveDirectory(client, name);
}

}  // namespace

// The operation runs on the engine of ServerType; the callers refuse what
// the HTTP engine does not offer, whether or not a connection is open.
HRESULT CFileTransfer::ManageRemoteNames(const VARIANT* first, const VARIANT* second,
                                         FtpNameOperation operation, VARIANT* error) {
    SetErrorResult(error, 0);
    StartEnginesIfNeeded();
    if (!IsConnected()) return ReportNotConnected(error);
    const TextArgument firstName = ReadTextArgument(first);
    if (FAILED(firstName.hr)) return firstName.hr;
    const TextArgument secondName = ReadTextArgument(second);
    if (FAILED(secondName.hr)) return secondName.hr;
    const EngineText one(firstName.value.value_or(u""));
    const EngineText other(secondName.value.value_or(u""));
    if (operation(state_.clientHandle, one.c_str(), other.c_str()) >= 0) return S_OK;
    return ReportMethodFailure(error);
}

HRESULT CFileTransfer::DeleteFile(const VARIANT* fileName, VARIANT* error) {
    const bool http = state_.serverType == fileServerHTTP;
    return ManageRemoteNames(fileName, nullptr, http ? &HttpDeleteName : &DeleteName, error);
}

HRESULT CFileTransfer::RenameFile(const VARIANT* oldFileName, const VARIANT* newFileName,
                                  VARIANT* error) {
    if (state_.serverType == fileServerHTTP) {
        SetErrorResult(error, 0);
        return ReportNotSupported(error);
    }
    return ManageRemoteNames(oldFileName, newFileName, &RenameName, error);
}

HRESULT CFileTransfer::MakeDirectory(const VARIANT* dirName, VARIANT* error) {
    if (state_.serverType == fileServerHTTP) {
        SetErrorResult(error, 0);
        return ReportNotSupported(error);
    }
    return ManageRemoteNames(dirName, nullptr, &MakeDirectoryName, error);
}

HRESULT CFileTransfer::RemoveDirectory(const VARIANT* dirName, VARIANT* error) {
    if (state_.serverType == fileServerHTTP) {
        SetErrorResult(error, 0);
        return ReportNotSupported(error);
    }
    return ManageRemoteNames(dirName, nullptr, &RemoveDirectoryName, error);
}

HRESULT CFileTransfer::SetFilePermissions(const VARIANT* fileName, const VARIANT* filePerms,
                                          VARIANT* error) {
    SetErrorResult(error, 0);
    const TextArgument name = ReadTextArgument(fileName);
    if (FAILED(name.hr)) return name.hr;
    const LongArgument mode = ReadLongArgument(filePerms);
    if (FAILED(mode.hr)) return mode.hr;
    if (state_.serverType == fileServerHTTP) return ReportNotSupported(error);
    const EngineText remote(name.value.value_or(u""));
    const DWORD bits = static_cast<DWORD>(mode.value.value_or(0));
    if (FtpSetFilePermissions(state_.clientHandle, remote.c_str(), bits) >= 0) return S_OK;
    return ReportMethodFailure(error);
}

HRESULT CFileTransfer::SetFileTime(const VARIANT* fileName, const VARIANT* fileDate,
                                   VARIANT* error) {
    SetErrorResult(error, 0);
    const TextArgument name = ReadTextArgument(fileName);
    if (FAILED(name.hr)) return name.hr;
    DATE date = 0;
    if (HRESULT hr = ReadDateArgument(fileDate, &date); FAILED(hr)) return hr;
    SYSTEMTIME time{};
    if (!VariantTimeToSystemTime(date, &time)) return E_INVALIDARG;
    if (state_.localize && !LocalToUtc(time)) return E_INVALIDARG;
    if (state_.serverType == fileServerHTTP) return ReportNotSupported(error);
    const EngineText remote(name.value.value_or(u""));
    if (FtpSetFileTime(state_.clientHandle, remote.c_str(), &time) >= 0) return S_OK;
    return ReportMethodFailure(error);
}

HRESULT CFileTransfer::VerifyFile(const VARIANT* localFile, const VARIANT* remoteFile,
                                  const VARIANT* options, VARIANT* error) {
    SetErrorResult(error, 0);
    const TextArgument local = ReadTextArgument(localFile);
    if (FAILED(local.hr)) return local.hr;
    const TextArgument remote = ReadTextArgument(remoteFile);
    if (FAILED(remote.hr)) return remote.hr;
    const LongArgument methods = ReadLongArgument(options);
    if (FAILED(methods.hr)) return methods.hr;
    const EngineText localName(local.value.value_or(u""));
    const EngineText remoteName(remote.value.value_or(u""));
    const DWORD bits = static_cast<DWORD>(methods.value.value_or(fileVerifyDefault));
    const int matched =
        state_.serverType == fileServerHTTP
            ? HttpCompareFile(state_.clientHandle, local.value.value_or(u""),
                              remote.value.value_or(u""), bits)
            : FtpVerifyFile(state_.clientHandle, localName.c_str(), remoteName.c_str(), bits);
    if (matched == 1) return S_OK;
    return ReportMethodFailure(error);
}

HRESULT CFileTransfer::AddFileType(const VARIANT* fileExtension, const VARIANT* fileType) {
    const TextArgument extension = ReadTextArgument(fileExtension);
    if (FAILED(extension.hr)) return extension.hr;
    const LongArgument type = ReadLongArgument(fileType);
    if (FAILED(type.hr)) return type.hr;
    const std::u16string text = extension.value.value_or(u"");
    const LONG value = type.value.value_or(fileTypeText);
    if (text.empty() || value < fileTypeText || value > fileTypeBinary) return S_OK;
    const EngineText engineText(text);
    if (FtpAddFileType(engineText.c_str(), static_cast<int>(value))) return S_OK;
    return ReportError(0, true, false);
}
