// Drives the HTTP engine for bench/http.sh: one download or upload of a
// file, so that its wall and CPU time can be set next to curl's.
//   bench_http get URL LOCAL_FILE
//   bench_http put LOCAL_FILE URL
// https URLs trust the certificates of SSL_CERT_FILE. Exit status 0 on
// success, 1 with the error on stderr otherwise.
#include <cstdio>
#include <cstring>
#include <string>

#include "http/http.h"
#include "http/transfers.h"
#include "http/url.h"

namespace {

struct Target {
    HttpClient client = INVALID_HTTP_CLIENT;
    std::string resource;
};

int Report(const char* what) {
    char text[HTTP_ERROR_TEXT_SIZE] = {};
    HttpGetErrorString(0, text);
    std::fprintf(stderr, "bench_http: %s failed: %lu %s\n", what,
                 static_cast<unsigned long>(HttpGetLastError() & 0xFFFF), text);
    return 1;
}

bool Open(const char* url, Target& target) {
    HttpUrlRecord* parts = nullptr;
    if (!HttpParseUrl(url, &parts) || !parts->host) {
        HttpFreeUrl(parts);
        return false;
    }
    const DWORD options =
        HTTP_OPTION_KEEPALIVE | (parts->scheme == HTTP_SCHEME_HTTPS ? HTTP_OPTION_SECURE : 0);
    target.client = HttpConnect(HTTP_PROXY_NONE, nullptr, 0, nullptr, nullptr, parts->host,
                                parts->port, 60, options, HTTP_VERSION_11, nullptr);
    target.resource = parts->path ? parts->path : "/";
    HttpFreeUrl(parts);
    return target.client != INVALID_HTTP_CLIENT;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 || (std::strcmp(argv[1], "get") != 0 && std::strcmp(argv[1], "put") != 0)) {
        std::fprintf(stderr, "usage: bench_http get URL LOCAL_FILE | put LOCAL_FILE URL\n");
        return 2;
    }
    const bool get = std::strcmp(argv[1], "get") == 0;
    const char* url = get ? argv[2] : argv[3];
    const char* local = get ? argv[3] : argv[2];
    if (HttpInitialize(nullptr) != 1) return Report("start");
    Target target;
    int status = 0;
    if (!Open(url, target)) {
        status = Report("connect");
    } else if (get ? HttpGetFile(target.client, local, target.resource.c_str(), 0) != 0
                   : HttpPutFile(target.client, local, target.resource.c_str()) != 0) {
        status = Report(get ? "download" : "upload");
    }
    if (target.client != INVALID_HTTP_CLIENT) HttpDisconnect(target.client);
    HttpUninitialize();
    return status;
}
