#include "cli/remote_files.h"

#include <cstdio>

#include "control/FileTransfer.h"
#include "platform/file.h"
#include "platform/system.h"
#include "platform/text.h"
#include "resources/errors.h"
#include "resources/typeinfo.h"

namespace {

constexpr LONG kSymbolicLinkBit = 0x1000;

const HRESULT kEndOfDirectory = kAutomationErrorBase + fileErrorEndOfDirectory;
const HRESULT kDirectoryEmpty = kAutomationErrorBase + fileErrorDirectoryEmpty;

// The current folder, which the commands leave at the login folder, where
// relative paths start.
std::optional<std::string> CurrentFolder(Session& session) {
    ScopedVariant value;
    if (!session.Get("ServerDirectory", value.get()) || (*value).vt != VT_BSTR) return std::nullopt;
    return Utf8FromBstr((*value).bstrVal);
}

}  // namespace

Arguments::Arguments(std::size_t count) : values_(count) {
    for (VARIANT& value : values_)
        VariantInit(&value);
}

Arguments::~Arguments() {
    for (VARIANT& value : values_)
        VariantClear(&value);
}

Arguments& Arguments::Text(std::size_t i, std::string_view text) {
    SetTextVariant(&values_[i], text);
    return *this;
}

Arguments& Arguments::Long(std::size_t i, LONG value) {
    VariantClear(&values_[i]);
    values_[i].vt = VT_I4;
    values_[i].lVal = value;
    return *this;
}

Arguments& Arguments::Bool(std::size_t i, bool value) {
    VariantClear(&values_[i]);
    values_[i].vt = VT_BOOL;
    values_[i].boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return *this;
}

Arguments& Arguments::Output(std::size_t i, VARIANT* target) {
    VariantClear(&values_[i]);
    values_[i].vt = VT_BYREF | VT_VARIANT;
    values_[i].pvarVal = target;
    return *this;
}

DirectoryRow::DirectoryRow() {
    for (VARIANT& value : values)
        VariantInit(&value);
    values[kName].vt = VT_BSTR;
    values[kName].bstrVal = SysAllocString(u"");
}

DirectoryRow::~DirectoryRow() {
    for (VARIANT& value : values)
        VariantClear(&value);
}

bool DirectoryRow::folder() const {
    return values[kFolder].vt == VT_BOOL && values[kFolder].boolVal != VARIANT_FALSE;
}

HRESULT ReadDirectoryRow(Session& session, DirectoryRow& row) {
    Arguments arguments(DirectoryRow::kFields);
    for (std::size_t i = 0; i < DirectoryRow::kFields; ++i)
        arguments.Output(i, &row.values[i]);
    return session.TryCall("ReadDirectory64", arguments.span());
}

std::string TextOf(const VARIANT& value) {
    return value.vt == VT_BSTR ? Utf8FromBstr(value.bstrVal) : std::string();
}

std::int64_t SizeOf(const VARIANT& value) {
    if (value.vt == VT_I8) return value.llVal;
    return value.vt == VT_I4 ? static_cast<std::uint32_t>(value.lVal) : 0;
}

bool LocalizeIsSet(Session& session) {
    ScopedVariant value;
    return session.Get("Localize", value.get()) && (*value).vt == VT_BOOL &&
           (*value).boolVal != VARIANT_FALSE;
}

std::optional<std::time_t> TimeOfDateText(std::string_view text, bool local) {
    const std::string copy(text.substr(0, 32));
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    const int fields = std::sscanf(copy.c_str(), "%4u-%2u-%2u %2u:%2u:%2u", &year, &month, &day,
                                   &hour, &minute, &second);
    if (fields != 3 && fields != 5 && fields != 6) return std::nullopt;
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
        second > 60) {
        return std::nullopt;
    }
    SYSTEMTIME calendar{};
    calendar.wYear = static_cast<WORD>(year);
    calendar.wMonth = static_cast<WORD>(month);
    calendar.wDay = static_cast<WORD>(day);
    calendar.wHour = static_cast<WORD>(hour);
    calendar.wMinute = static_cast<WORD>(minute);
    calendar.wSecond = static_cast<WORD>(second);
    std::int64_t seconds = 0;
    if (!CalendarToUnixTime(calendar, local, &seconds)) return std::nullopt;
    return static_cast<std::time_t>(seconds);
}

std::string DateTextOf(std::time_t time, bool local) {
    SYSTEMTIME fields{};
    if (!UnixTimeToCalendar(time, local, &fields)) return {};
    char text[64];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", fields.wYear, fields.wMonth,
                  fields.wDay, fields.wHour, fields.wMinute, fields.wSecond);
    return text;
}

HRESULT ReadRemoteTime(Session& session, const std::string& path, std::time_t* time) {
    ScopedVariant date;
    SetTextVariant(date.get(), "");
    Arguments arguments(2);
    arguments.Text(0, path).Output(1, date.get());
    if (const HRESULT hr = session.TryCall("GetFileTime", arguments.span()); FAILED(hr)) return hr;
    const std::optional<std::time_t> parsed = TimeOfDateText(TextOf(*date), LocalizeIsSet(session));
    // An HTTP answer without Last-Modified gives an empty (zero) date.
    if (!parsed) return S_FALSE;
    *time = *parsed;
    return S_OK;
}

HRESULT WriteRemoteTime(Session& session, const std::string& path, std::time_t time) {
    Arguments arguments(2);
    arguments.Text(0, path).Text(1, DateTextOf(time, LocalizeIsSet(session)));
    return session.TryCall("SetFileTime", arguments.span());
}

bool IsUnsupported(HRESULT hr) {
    return hr == kAutomationErrorBase + fileErrorFeatureNotSupported ||
           hr == kAutomationErrorBase + fileErrorOperationNotSupported;
}

std::optional<std::time_t> LocalFileTime(const std::string& path) {
    const std::optional<std::int64_t> seconds = platform::FileModifiedTime(path);
    if (!seconds) return std::nullopt;
    return static_cast<std::time_t>(*seconds);
}

bool SetLocalFileTime(const std::string& path, std::time_t time) {
    return platform::SetFileModifiedTime(path, time);
}

HRESULT ListRemoteFolder(Session& session, const std::string& path,
                         std::vector<RemoteEntry>* entries) {
    Arguments open(2);
    open.Text(0, path).Bool(1, true);
    if (const HRESULT hr = session.TryCall("OpenDirectory", open.span()); FAILED(hr)) {
        return hr == kDirectoryEmpty ? (RemoteFolderExists(session, path) ? S_OK : hr) : hr;
    }
    HRESULT result = S_OK;
    bool any = false;
    while (true) {
        DirectoryRow row;
        const HRESULT hr = ReadDirectoryRow(session, row);
        const VARIANT* values = row.values;
        RemoteEntry entry{TextOf(values[DirectoryRow::kName]), SizeOf(values[DirectoryRow::kSize]),
                          TextOf(values[DirectoryRow::kDate]), row.folder(),
                          values[DirectoryRow::kAttributes].vt == VT_I4 &&
                              (values[DirectoryRow::kAttributes].lVal & kSymbolicLinkBit) != 0};
        if (hr == kEndOfDirectory) break;
        if (hr == kDirectoryEmpty && !any) break;
        if (FAILED(hr)) {
            result = hr;
            break;
        }
        any = true;
        if (entry.name.empty() || entry.name == "." || entry.name == ".." ||
            entry.name.find('/') != std::string::npos) {
            continue;
        }
        entries->push_back(std::move(entry));
    }
    session.TryCall("CloseDirectory", {});
    if (SUCCEEDED(result) && !any && !RemoteFolderExists(session, path)) {
        return kAutomationErrorBase + fileErrorDirectoryNotFound;
    }
    return result;
}

bool RemoteFolderExists(Session& session, const std::string& path) {
    if (path.empty()) return true;
    const std::optional<std::string> login = CurrentFolder(session);
    if (!login) return false;
    Arguments change(1);
    change.Text(0, path);
    if (FAILED(session.TryCall("ChangeDirectory", change.span()))) return false;
    Arguments back(1);
    back.Text(0, *login);
    session.TryCall("ChangeDirectory", back.span());
    return true;
}

HRESULT MakeRemoteFolders(Session& session, const std::string& path) {
    std::string prefix = path.starts_with('/') ? "/" : "";
    std::size_t at = 0;
    while (at < path.size()) {
        std::size_t end = path.find('/', at);
        if (end == std::string::npos) end = path.size();
        const std::string segment = path.substr(at, end - at);
        at = end + 1;
        if (segment.empty()) continue;
        prefix = JoinRemote(prefix, segment);
        Arguments arguments(1);
        arguments.Text(0, prefix);
        const HRESULT hr = session.TryCall("MakeDirectory", arguments.span());
        if (SUCCEEDED(hr) || RemoteFolderExists(session, prefix)) continue;
        return hr;
    }
    return S_OK;
}

std::string JoinRemote(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}
