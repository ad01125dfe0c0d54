// Decoding of gzip, deflate and zlib bodies: a memory block into a new block,
// a downloaded file in place through a temporary file.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "http/transfer_common.h"
#include "http/transfers.h"
#include "platform/file.h"
#include "platform/system.h"
#include "resources/errors.h"

namespace http {
namespace {

constexpr std::size_t kSlice = 8192;
// A decoded block's length travels as a DWORD.
constexpr std::uint64_t kMaxBlock = 0xFFFFFFFFu;

// The temporary name next to the file: "<name>.<tick in hex>".
std::string TemporaryNameFor(const std::string& name) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%lx", static_cast<unsigned long>(GetTickCount()));
    return name + suffix;
}

// Inflates the source file into the target, converting line ends when asked.
// 0 or the error number.
int InflateFile(platform::LocalFile& source, platform::LocalFile& target, bool text,
                const DecodeLimits& limits) {
    Inflater inflater(limits);
    if (!inflater.ready()) return fileErrorOutOfMemory;
    LineEndConverter converter;
    std::string converted;
    const BodySink write = [&](const char* data, std::size_t size) {
        if (!text) return target.Write(data, size);
        converter.Convert(data, size, converted);
        return target.Write(converted.data(), converted.size());
    };
    std::vector<char> slice(kSlice);
    for (;;) {
        const std::int64_t got = source.Read(slice.data(), slice.size());
        if (got < 0) return fileErrorFileReadFailed;
        const int result =
            inflater.Feed(slice.data(), static_cast<std::size_t>(got), got == 0, write);
        if (result == Inflater::kSinkFailed) return fileErrorFileWriteFailed;
        if (result == Inflater::kLimitExceeded) return fileErrorDecodedSizeExceeded;
        if (result < 0) return fileErrorInvalidFileType;
        if (result == Z_STREAM_END) return 0;
    }
}

// The decoded file takes the downloaded file's place. 0 or the error number.
int ReplaceWith(const std::string& name, const std::string& temporary) {
    std::remove(name.c_str());
    if (std::rename(temporary.c_str(), name.c_str()) == 0) return 0;
    platform::LocalFile from;
    platform::LocalFile to;
    using platform::FileAccess;
    using platform::FileDisposition;
    bool copied = from.Open(temporary, FileAccess::Read, FileDisposition::OpenExisting) == 0 &&
                  to.Open(name, FileAccess::ReadWrite, FileDisposition::CreateAlways) == 0;
    std::vector<char> buffer(kWorkBufferSize);
    while (copied) {
        const std::int64_t got = from.Read(buffer.data(), buffer.size());
        if (got <= 0) {
            copied = got == 0;
            break;
        }
        copied = to.Write(buffer.data(), static_cast<std::size_t>(got));
    }
    from.Close();
    std::remove(temporary.c_str());
    return copied ? 0 : fileErrorFileNotCreated;
}

}  // namespace

// Decodes a block of bytes; the error number or 0.
int DecodeBytes(const char* data, std::size_t size, std::vector<char>& decoded,
                const DecodeLimits& limits) {
    DecodeLimits bounded = limits;
    if (bounded.maxSize == 0 || bounded.maxSize > kMaxBlock) bounded.maxSize = kMaxBlock;
    Inflater inflater(bounded);
    if (!inflater.ready()) return fileErrorOutOfMemory;
    decoded.clear();
    decoded.reserve(kWorkBufferSize);
    const BodySink append = [&decoded](const char* piece, std::size_t length) {
        decoded.insert(decoded.end(), piece, piece + length);
        return true;
    };
    int result = Z_OK;
    for (std::size_t at = 0; result == Z_OK;) {
        const std::size_t slice = std::min(kSlice, size - at);
        result = inflater.Feed(data + at, slice, at + slice == size, append);
        at += slice;
    }
    if (result == Inflater::kLimitExceeded) return fileErrorDecodedSizeExceeded;
    return result == Z_STREAM_END ? 0 : fileErrorInvalidEncodingType;
}

// Decodes a downloaded file in place; the error number or 0.
int DecodeFileInPlace(const std::string& name, bool text, const DecodeLimits& limits) {
    using platform::FileAccess;
    using platform::FileDisposition;
    platform::LocalFile source;
    if (int error = source.Open(name, FileAccess::Read, FileDisposition::OpenExisting)) {
        return LocalFileError(error);
    }
    const std::string temporary = TemporaryNameFor(name);
    platform::LocalFile target;
    if (target.Open(temporary, FileAccess::ReadWrite, FileDisposition::CreateAlways) != 0) {
        return fileErrorFileNotCreated;
    }
    const int error = InflateFile(source, target, text, limits);
    source.Close();
    target.Close();
    if (error != 0) {
        std::remove(temporary.c_str());
        return error;
    }
    return ReplaceWith(name, temporary);
}

}  // namespace http

using namespace http;

extern "C" {

int HttpDecodeMemory(HGLOBAL memory, DWORD length, HGLOBAL* decoded, DWORD* decodedLength) {
    if (!memory || length == 0 || !decoded || !decodedLength) {
        return Fail(fileErrorInvalidParameter), 0;
    }
    *decoded = nullptr;
    *decodedLength = 0;
    const auto* input = static_cast<const char*>(GlobalLock(memory));
    if (!input) return Fail(fileErrorInvalidParameter), 0;
    std::vector<char> output;
    const std::size_t size = std::min<std::size_t>(length, GlobalSize(memory));
    const int error = DecodeBytes(input, size, output, DecodeLimits());
    GlobalUnlock(memory);
    if (error != 0) return Fail(error), 0;
    HGLOBAL block = GlobalAlloc(GHND, std::max<std::size_t>(output.size(), 1));
    void* address = block ? GlobalLock(block) : nullptr;
    if (!address) {
        GlobalFree(block);
        return Fail(fileErrorOutOfMemory), 0;
    }
    if (!output.empty()) std::memcpy(address, output.data(), output.size());
    GlobalUnlock(block);
    *decoded = block;
    *decodedLength = static_cast<DWORD>(output.size());
    return 1;
}

int HttpDecodeFile(HttpClient client, const char* fileName, BOOL textFlag) {
    if (!fileName || fileName[0] == '\0') return Fail(fileErrorInvalidFileName), 0;
    // The limits of the client named, else the defaults: a handle that names
    // no client is no error here, as it never was.
    DecodeLimits limits;
    {
        HttpErrorGuard keepError;
        if (ClientRef record = LookupClientAnyThread(client)) limits = record->decodeLimits;
    }
    const int error = DecodeFileInPlace(fileName, textFlag != 0, limits);
    return error == 0 ? 1 : (Fail(error), 0);
}

}  // extern "C"
