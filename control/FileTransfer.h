// CFileTransfer: the FileTransfer control. Its properties are C++ members in
// COM style and are also reached through IDispatch by name and dispid, using
// the type information table; its events go to the sinks connected to the
// _IFileTransferEvents connection point.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "control/class_factory.h"
#include "control/control_state.h"
#include "control/ole_shell.h"
#include "platform/automation.h"
#include "platform/dispatch.h"
#include "platform/ole.h"
#include "platform/typelib.h"
#include "platform/unknown.h"
#include "resources/typeinfo.h"

// Failures of the control itself (OLE control error range).
constexpr HRESULT CTL_E_OUTOFMEMORY = MakeHResult(0x800A0007);
constexpr HRESULT CTL_E_ILLEGALFUNCTIONCALL = MakeHResult(0x800A0005);
constexpr HRESULT CTL_E_INVALIDPROPERTYVALUE = MakeHResult(0x800A017C);
constexpr HRESULT CTL_E_INVALIDPROPERTYARRAYINDEX = MakeHResult(0x800A017D);
constexpr HRESULT CTL_E_SETNOTSUPPORTED = MakeHResult(0x800A017F);
constexpr HRESULT CTL_E_GETNOTSUPPORTED = MakeHResult(0x800A018A);
// The HRESULT of an error number reported as an automation exception.
constexpr HRESULT kAutomationErrorBase = MakeHResult(0x800A0000);

using FileTransferBase =
    ComObject<IFileTransfer, IConnectionPointContainer, IProvideClassInfo2, ISupportErrorInfo,
              IObjectSafety, IPersistStreamInit, IPersistPropertyBag, IPersistStorage>;

class CFileTransfer final : public FileTransferBase {
  public:
    // A new control with one reference held by the caller. With an outer
    // object the control is aggregated: that reference is its own unknown's
    // (InnerUnknown), and every other interface's IUnknown calls go to outer.
    static CFileTransfer* Create(IUnknown* outer = nullptr);
    IUnknown* InnerUnknown() { return &inner_; }

    // ---- Hosting ----------------------------------------------------------
    // The container's site. When it answers IDispatch, that is the ambient
    // property dispatch asked for UserMode; without one the control is in
    // user mode. Null detaches.
    HRESULT SetClientSite(IUnknown* site);

    // ---- IUnknown -----------------------------------------------------------
    HRESULT QueryInterface(REFIID iid, void** object) override;
    ULONG AddRef() override { return outer_ ? outer_->AddRef() : FileTransferBase::AddRef(); }
    ULONG Release() override { return outer_ ? outer_->Release() : FileTransferBase::Release(); }

    // ---- IProvideClassInfo2 -------------------------------------------------
    // The coclass's type description, and the event interface's identifier.
    HRESULT GetClassInfo(ITypeInfo** info) override;
    HRESULT GetGUID(DWORD kind, GUID* guid) override;

    // ---- IDispatch --------------------------------------------------------
    HRESULT GetTypeInfoCount(UINT* count) override;
    HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                          DISPID* dispids) override;
    HRESULT Invoke(DISPID member, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

    // ---- IConnectionPointContainer ---------------------------------------
    // The events of _IFileTransferEvents and IPropertyNotifySink, in that order.
    HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) override;
    HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

    // ---- The container-facing shell (control/hosting.cpp) -------------------
    // S_OK for IID_IFileTransfer (its calls leave error information), else S_FALSE.
    HRESULT InterfaceSupportsErrorInfo(REFIID iid) override;
    // Supported: safe for untrusted callers and data (3); enabled: data (2).
    HRESULT GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled) override;
    // E_FAIL when mask and enabled share exactly the untrusted-caller bit; else
    // S_OK, changing nothing.
    HRESULT SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD enabled) override;
    // Persistence keeps the extent ("_cx", "_cy", HIMETRIC) and nothing else: a
    // loaded control has the properties of a new one.
    HRESULT GetClassID(CLSID* clsid) override;
    HRESULT IsDirty() override;
    HRESULT Load(IStream* stream) override;
    HRESULT Save(IStream* stream, BOOL clearDirty) override;
    HRESULT GetSizeMax(ULARGE_INTEGER* size) override;
    HRESULT InitNew() override;
    HRESULT Load(IPropertyBag* bag, IErrorLog* log) override;
    HRESULT Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override;
    // IPersistStorage: the stream form above in the storage's stream "Contents".
    // InitNew and Load of an initialized control give CO_E_ALREADYINITIALIZED;
    // after HandsOffStorage, Save without a storage and SaveCompleted without
    // one give E_UNEXPECTED.
    HRESULT InitNew(IStorage* storage) override;
    HRESULT Load(IStorage* storage) override;
    HRESULT Save(IStorage* storage, BOOL sameAsLoad) override;
    HRESULT SaveCompleted(IStorage* storage) override;
    HRESULT HandsOffStorage() override;
    // The extent in HIMETRIC units (width, height).
    DWORD ExtentWidth() const { return extent_[0]; }
    DWORD ExtentHeight() const { return extent_[1]; }
    void SetExtent(DWORD width, DWORD height) {
        extent_[0] = width;
        extent_[1] = height;
    }
    // The notification window, made unless the control has one (a client site,
    // the engines' start).
    void EnsureNotifyWindow();
    // Hands the about box's caption and lines to the host (MessageBoxW).
    HRESULT About();
    // OnRequestEdit to the IPropertyNotifySink sinks: false when one refuses.
    bool RequestEdit(DISPID dispid);
    // OnChanged to the IPropertyNotifySink sinks.
    void NotifyPropertyChanged(DISPID dispid);

    // ---- Events -----------------------------------------------------------
    HRESULT Fire_OnCancel();
    HRESULT Fire_OnCommand(LONG resultCode, std::u16string_view resultString);
    HRESULT Fire_OnError(LONG errorCode, std::u16string_view description);
    HRESULT Fire_OnProgress(std::u16string_view fileName, LONG fileSize, LONG bytesCopied,
                            LONG percent);
    HRESULT Fire_OnTimeout();
    HRESULT Fire_OnTranscript(LONG kind, std::u16string_view text);

    // ---- Error reporting --------------------------------------------------
    // Turns an error code (0 = the engine's last error) into LastError, the
    // thread's error information and, when asked, OnError; returns S_OK or,
    // with returnFailure, the automation HRESULT of the error.
    HRESULT ReportError(DWORD code, bool returnFailure, bool raiseEvent);

    // ---- Session lifecycle --------------------------------------------------
    // Optional arguments may be null, VT_EMPTY or VT_ERROR; error (the Error
    // result) may be null.
    HRESULT Initialize(VARIANT* error);
    HRESULT Uninitialize();
    HRESULT Connect(const VARIANT* serverName, const VARIANT* serverPort, const VARIANT* userName,
                    const VARIANT* password, const VARIANT* timeout, const VARIANT* options,
                    VARIANT* error);
    HRESULT Disconnect(VARIANT* error);
    HRESULT Reset();
    HRESULT Cancel(VARIANT* error);

    // ---- Commands and file management ---------------------------------------
    // Sends the whole text as one command line; the reply is then readable in
    // ResultCode and ResultString.
    HRESULT Command(const VARIANT* command, VARIANT* error);

    // ---- Transfers (control/transfer_methods.cpp) ---------------------------
    // Without an open connection they open one for the call (see below).
    HRESULT GetFile(const VARIANT* localFile, const VARIANT* remoteFile,
                    const VARIANT* restartOffset, VARIANT* error);
    HRESULT PutFile(const VARIANT* localFile, const VARIANT* remoteFile,
                    const VARIANT* restartOffset, VARIANT* error);
    HRESULT GetData(const VARIANT* remoteFile, VARIANT* buffer, VARIANT* length,
                    const VARIANT* reserved, VARIANT* error);
    HRESULT PutData(const VARIANT* remoteFile, const VARIANT* buffer, const VARIANT* length,
                    const VARIANT* reserved, VARIANT* error);
    HRESULT PostFile(const VARIANT* localFile, const VARIANT* remoteFile, const VARIANT* fieldName,
                     const VARIANT* options, VARIANT* error);
    HRESULT GetMultipleFiles(const VARIANT* localDir, const VARIANT* remoteDir,
                             const VARIANT* fileMask, VARIANT* error);
    HRESULT PutMultipleFiles(const VARIANT* localDir, const VARIANT* remoteDir,
                             const VARIANT* fileMask, VARIANT* error);

    // ---- Directories and file management ------------------------------------
    // (control/directory_methods.cpp, control/file_methods.cpp.) Outputs
    // follow the in/out rules of control/method_args.h; the optional outputs
    // of ReadDirectory and GetFileStatus may be null or VT_ERROR. Dates travel
    // as texts in the platform's date form; Localize chooses local time or UTC.
    HRESULT ChangeDirectory(const VARIANT* dirName, VARIANT* error);
    HRESULT GetDirectory(VARIANT* remotePath, VARIANT* error);
    HRESULT OpenDirectory(const VARIANT* dirName, const VARIANT* parseList, VARIANT* error);
    HRESULT ReadDirectory(VARIANT* fileName, VARIANT* fileLength, VARIANT* fileDate,
                          VARIANT* fileOwner, VARIANT* fileGroup, VARIANT* filePerms,
                          VARIANT* isDirectory, VARIANT* error);
    HRESULT CloseDirectory(VARIANT* error);
    HRESULT GetFileList(const VARIANT* remotePath, VARIANT* buffer, const VARIANT* length,
                        const VARIANT* options, VARIANT* error);
    HRESULT GetFileStatus(const VARIANT* fileName, VARIANT* fileLength, VARIANT* fileDate,
                          VARIANT* fileOwner, VARIANT* fileGroup, VARIANT* filePerms,
                          VARIANT* isDirectory, VARIANT* error);
    HRESULT GetFileSize(const VARIANT* fileName, VARIANT* fileSize, VARIANT* error);
    HRESULT GetFileTime(const VARIANT* fileName, VARIANT* fileDate, VARIANT* error);
    HRESULT GetFilePermissions(const VARIANT* fileName, VARIANT* filePerms, VARIANT* error);
    HRESULT DeleteFile(const VARIANT* fileName, VARIANT* error);
    HRESULT RenameFile(const VARIANT* oldFileName, const VARIANT* newFileName, VARIANT* error);
    HRESULT MakeDirectory(const VARIANT* dirName, VARIANT* error);
    HRESULT RemoveDirectory(const VARIANT* dirName, VARIANT* error);
    HRESULT SetFilePermissions(const VARIANT* fileName, const VARIANT* filePerms, VARIANT* error);
    HRESULT SetFileTime(const VARIANT* fileName, const VARIANT* fileDate, VARIANT* error);
    HRESULT VerifyFile(const VARIANT* localFile, const VARIANT* remoteFile, const VARIANT* options,
                       VARIANT* error);
    // ---- 64-bit sizes and offsets ----------------------------------------------
    // GetFile, PutFile, GetFileSize, GetFileStatus and ReadDirectory with whole
    // 64-bit sizes (VT_I8) and restart offsets (any number up to 2^63-1); the
    // 32-bit members keep handing out the low 32 bits.
    HRESULT GetFile64(const VARIANT* localFile, const VARIANT* remoteFile,
                      const VARIANT* restartOffset, VARIANT* error);
    HRESULT PutFile64(const VARIANT* localFile, const VARIANT* remoteFile,
                      const VARIANT* restartOffset, VARIANT* error);
    HRESULT GetFileSize64(const VARIANT* fileName, VARIANT* fileSize, VARIANT* error);
    HRESULT GetFileStatus64(const VARIANT* fileName, VARIANT* fileLength, VARIANT* fileDate,
                            VARIANT* fileOwner, VARIANT* fileGroup, VARIANT* filePerms,
                            VARIANT* isDirectory, VARIANT* error);
    HRESULT ReadDirectory64(VARIANT* fileName, VARIANT* fileLength, VARIANT* fileDate,
                            VARIANT* fileOwner, VARIANT* fileGroup, VARIANT* filePerms,
                            VARIANT* isDirectory, VARIANT* error);
    // Returns S_OK or, on an engine failure, the automation HRESULT (no Error, no event).
    HRESULT AddFileType(const VARIANT* fileExtension, const VARIANT* fileType);

    // Starts the engines (and the notification window) unless started.
    HRESULT InitializeEngines();
    // Opens the one connection with the current properties.
    HRESULT OpenConnection();

    // Message 2025 of an engine: the client handle and (error << 16) | event.
    void HandleNotification(WPARAM client, LPARAM word);

    // ---- Properties -------------------------------------------------------
    // get_Name and put_Name of every property of resources/members.inc. The
    // accessors of kept settings are made in control/properties.cpp; the others
    // are written beside the code they belong to.
    // clang-format off
#define FT_DECLARE_ReadOnly(Name, T) HRESULT get_##Name(T* value);
#define FT_DECLARE_ReadWrite(Name, T) \
    HRESULT get_##Name(T* value);     \
    HRESULT put_##Name(T value);
#define FT_DECLARE_Indexed(Name, T)              \
    HRESULT get_##Name(LONG index, T* value); \
    HRESULT put_##Name(LONG index, T value);
#define FT_PROPERTY(Name, dispid, Value, Access, help) \
    FT_DECLARE_##Access(Name, MemberValue::Value)
#define FT_METHOD(Name, dispid, List, help)
#define FT_PLAIN_METHOD(Name, dispid, List, help)
#include "resources/members.inc"
#undef FT_PROPERTY
#undef FT_METHOD
#undef FT_PLAIN_METHOD
#undef FT_DECLARE_ReadOnly
#undef FT_DECLARE_ReadWrite
#undef FT_DECLARE_Indexed
    // clang-format on

    // Read-only view of the state, for diagnostics and the tests outside
    // tests/control that still read it.
    const ControlState& State() const {
        return state_;
    }

  private:
    CFileTransfer();
    ~CFileTransfer() override;

    bool IsUserMode();
    bool IsConnected() const {
        return state_.clientHandle != kNoClientHandle;
    }
    bool IsFtpConnected() const {
        return IsConnected() && state_.serverType == fileServerFTP;
    }

    // Guards for the reading rule of every property but ThrowError and Enabled.
    HRESULT CheckReadable(const void* out);
    HRESULT ReadText(std::u16string_view text, BSTR* out);
    template <class T>
    HRESULT ReadValue(T value, T* out);

    HRESULT WriteHttpUrl(const std::string& text);
    HRESULT WriteFtpUrl(const std::string& text);
    std::string ComposeUrl() const;

    HRESULT InvokePropertyGet(const MemberInfo& member, DISPPARAMS* params, VARIANT* result,
                              UINT* argumentError);
    HRESULT InvokePropertyPut(const MemberInfo& member, DISPPARAMS* params, UINT* argumentError);
    // Methods found in the method table; the others are not implemented yet.
    HRESULT InvokeMethod(const MemberInfo& member, DISPPARAMS* params, VARIANT* result,
                         UINT* argumentError);

    bool StartEnginesIfNeeded();
    // Tracing with the stored file and flags; Trace reads back whether it runs.
    void StartTracing();
    void StopTracing();
    // Stops and starts a running trace again (a new file or new flags).
    void RestartTracing();
    HRESULT OpenFtpConnection();
    HRESULT OpenHttpConnection();
    // Hands MaxDecodedSize and MaxDecodedRatio to the open HTTP session.
    void PushDecodeLimits();
    HRESULT FinishConnection();
    void CloseConnection();
    void CopySecurityInfo();
    // HostKeyStatus and HostKeyText from the engine after an FTP-engine connect.
    void CopyHostKeyStatus();
    // Loads the key files of public-key login and hands them with the agent
    // setting to the FTP engine. false with the engine's last error set when a key
    // cannot be loaded; *passwordIsPassphrase when Password opened the key.
    bool PrepareLoginKeys(const SecretBytes& password, bool* passwordIsPassphrase);
    DWORD EngineLastError() const;
    // The failure of an engine call made from a property: LastError, error
    // information and the automation HRESULT, no event.
    HRESULT ReportEngineFailure() {
        return ReportError(0, true, false);
    }
    // The shared failure paths of the methods that return Error.
    void SetEngineLastError(int number);
    HRESULT ReportNotConnected(VARIANT* error);
    HRESULT ReportNotSupported(VARIANT* error);
    HRESULT ReportMethodFailure(VARIANT* error);

    // ---- Directory and file-management helpers -------------------------------
    // fileErrorOperationNotSupported reported directly, with Error and OnError.
    HRESULT ReportUnsupportedDirectly(VARIANT* error);
    using FtpNameOperation = int (*)(LONGLONG client, const char* first, const char* second);
    // The shape of DeleteFile, RenameFile, MakeDirectory and RemoveDirectory.
    HRESULT ManageRemoteNames(const VARIANT* first, const VARIANT* second,
                              FtpNameOperation operation, VARIANT* error);

    // ---- Transfer helpers (control/transfer_methods.cpp) ----------------------
    // The remote name of a single-file transfer: Resource when absent, the
    // new Resource after a URL (written through URL), else the text itself.
    HRESULT ResolveRemoteName(const VARIANT* remoteFile, std::u16string* name);
    // Opens a connection for this call only when none is open; *opened tells
    // CloseCallConnection what to close.
    HRESULT ConnectForCall(bool* opened);
    void CloseCallConnection(bool opened);
    enum class FileDirection { Download, Upload };
    // wide: the restart offset is read as a 64-bit number (GetFile64, PutFile64).
    HRESULT TransferFile(FileDirection direction, const VARIANT* localFile,
                         const VARIANT* remoteFile, const VARIANT* restartOffset, VARIANT* error,
                         bool wide = false);
    // ReadDirectory, GetFileStatus: wide hands out FileLength as VT_I8.
    HRESULT ReadEntry(VARIANT* fileName, VARIANT* fileLength, VARIANT* fileDate, VARIANT* fileOwner,
                      VARIANT* fileGroup, VARIANT* filePerms, VARIANT* isDirectory, VARIANT* error,
                      bool wide);
    HRESULT FileStatus(const VARIANT* fileName, VARIANT* fileLength, VARIANT* fileDate,
                       VARIANT* fileOwner, VARIANT* fileGroup, VARIANT* filePerms,
                       VARIANT* isDirectory, VARIANT* error, bool wide);
    HRESULT MultipleFiles(FileDirection direction, const VARIANT* localDir,
                          const VARIANT* remoteDir, const VARIANT* fileMask, VARIANT* error);
    // OnProgress from the engine's transfer status (control/notifications.cpp).
    void RaiseProgress();

    // ---- HTTP engine (control/http_session.cpp) -------------------------------
    bool IsHttpConnected() const {
        return IsConnected() && state_.serverType == fileServerHTTP;
    }
    // GetFile's download, following redirects (a bounded number) to new
    // addresses; 0, or -1 with the HTTP engine's last error.
    int HttpGetFileFollowingRedirects(const std::u16string& local, std::u16string remote,
                                      uint64_t restartOffset);
    int FollowHttpRedirect(const std::string& address, std::u16string* remote,
                           bool invalidAccepted);

    HRESULT FireEvent(DISPID event, std::span<VARIANT> arguments);
    HRESULT RefreshActivePorts();
    HRESULT ReadTransferStatus(LONG* bytes, LONG* seconds);
    // The whole counts of the current or last transfer (0 without a connection).
    void ReadTransferTotals(uint64_t* total, uint64_t* copied);

    // The interfaces' own answers, whoever controls the object's identity.
    HRESULT QueryOwnInterface(REFIID iid, void** object);

    // The unknown that owns the control when it is aggregated.
    struct Inner final : IUnknown {
        CFileTransfer* owner;
        explicit Inner(CFileTransfer* control) : owner(control) {}
        HRESULT QueryInterface(REFIID iid, void** object) override;
        ULONG AddRef() override { return owner->FileTransferBase::AddRef(); }
        ULONG Release() override { return owner->FileTransferBase::Release(); }
    };

    // 28 by 28 pixels of the screen, in HIMETRIC units.
    static constexpr DWORD kDefaultExtent = MulDiv(28, 2540, kLogicalPixelsPerInch);
    DWORD extent_[2] = {kDefaultExtent, kDefaultExtent};
    // The storage of IPersistStorage between InitNew or Load and HandsOffStorage.
    ComPtr<IStorage> storage_;
    bool storageInitialized_ = false;
    ConnectionPoint* propertyPoint_ = nullptr;
    IUnknown* outer_ = nullptr;  // not referenced: it holds the control
    bool destroying_ = false;
    Inner inner_{this};
    ControlState state_;
    ComPtr<IDispatch> ambientDispatch_;
    // IOleObject and the other container interfaces (control/ole_shell.h).
    OleShell shell_{*this};
    ConnectionPoint* eventPoint_ = nullptr;
};
