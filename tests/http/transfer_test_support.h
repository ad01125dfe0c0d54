// Helpers of the transfer tests: canned responses, gzip bodies, compressible
// text, and reading back what a download handed over.
#pragma once

#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "http/transfers.h"
#include "support/test_files.h"
#include "support/time_text.h"
#include "tests/http/http_test_support.h"

namespace httptest {

// A response with a Content-Length (unless the headers frame the body).
inline std::string Response(const std::string& status, const std::string& body,
                            const std::vector<std::string>& headers = {}, bool withLength = true) {
    std::string text = "HTTP/1.1 " + status + "\r\n";
    for (const auto& header : headers)
        text += header + "\r\n";
    if (withLength) text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    return text + "\r\n" + body;
}

inline std::string Chunk(const std::string& data) {
    char size[16];
    std::snprintf(size, sizeof size, "%zx", data.size());
    return std::string(size) + "\r\n" + data + "\r\n";
}

// A chunked response of these chunks (the last chunk only when complete).
inline std::string ChunkedResponse(const std::vector<std::string>& chunks, bool complete = true) {
    std::string text = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (const auto& chunk : chunks)
        text += Chunk(chunk);
    return complete ? text + "0\r\n\r\n" : text;
}

// The data compressed with a gzip (windowBits 31), zlib (15) or raw (-15) header.
inline std::string Compressed(const std::string& data, int windowBits = 31,
                              int level = Z_BEST_SPEED) {
    z_stream stream{};
    deflateInit2(&stream, level, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, data.size()) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// Text that compresses well but is not all the same byte.
inline std::string TextPattern(std::size_t size) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>('a' + (i * 7 + i / 100) % 26);
    return text;
}

// The bytes of a memory block handed out by a download; the block is freed.
inline std::string TakeBlock(HGLOBAL block, DWORD length) {
    std::string bytes;
    if (const void* address = GlobalLock(block)) {
        bytes.assign(static_cast<const char*>(address), length);
        GlobalUnlock(block);
    }
    GlobalFree(block);
    return bytes;
}

// A download to memory: HttpGetData's result, the body in *body. A failed one
// must hand out no block.
inline int GetData(HttpClient client, const char* resource, std::string* body, DWORD flags = 0) {
    HGLOBAL block = nullptr;
    DWORD length = 0;
    const int result = HttpGetData(client, resource, &block, &length, flags);
    EXPECT_TRUE(result == 0 || block == nullptr);
    *body = TakeBlock(block, length);
    return result;
}

// The transfer figures of the last transfer as "copied/total".
inline std::string Figures(HttpClient client) {
    HttpTransferStatus status{};
    EXPECT_EQ(HttpGetTransferStatus(client, &status), 1);
    return std::to_string(status.bytesCopied) + "/" + std::to_string(status.totalBytes);
}

// "YYYY-MM-DD HH:MM:SS/w", w the day of the week (0 Sunday).
inline std::string TimeText(const SYSTEMTIME& time) {
    return testsupport::TimeText(time) + "/" + std::to_string(time.wDayOfWeek);
}

}  // namespace httptest
