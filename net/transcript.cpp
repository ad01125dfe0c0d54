#include "net/transcript.h"
#include "platform/text.h"

#include <string>
#include <string_view>

namespace {

struct Transcript {
    NetTranscriptProc proc = nullptr;
    void* user = nullptr;
};

thread_local Transcript current;

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// The part of a sent line that may be shown: the command of PASS and ACCT
// lines, the name of the credential headers.
std::string_view Shown(std::string_view line, bool& masked) {
    static constexpr std::string_view kSecretCommands[] = {"PASS", "ACCT"};
    static constexpr std::string_view kSecretHeaders[] = {"Authorization", "Proxy-Authorization"};
    const std::size_t start = line.find_first_not_of(" \t");
    const std::string_view word = TrimmedOf(line.substr(0, line.find_first_of(" \t", start)));
    for (std::string_view command : kSecretCommands) {
        if (EqualsIgnoringCase(word, command)) {
            masked = true;
            return line.substr(0,
                               static_cast<std::size_t>(word.data() - line.data()) + word.size());
        }
    }
    const std::size_t colon = line.find(':');
    if (colon != std::string_view::npos) {
        for (std::string_view header : kSecretHeaders) {
            if (EqualsIgnoringCase(TrimmedOf(line.substr(0, colon)), header)) {
                masked = true;
                return line.substr(0, colon + 1);
            }
        }
    }
    masked = false;
    return line;
}

void Emit(int kind, std::string_view line) {
    bool masked = false;
    if (kind == NET_TRANSCRIPT_SENT) line = Shown(line, masked);
    std::string text(line.substr(0, NET_TRANSCRIPT_MAX_LINE));
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    }
    if (masked) text += " ****";
    current.proc(current.user, kind, text.data(), text.size());
}

}  // namespace

void NetSetTranscript(NetTranscriptProc proc, void* user) {
    current = {proc, proc ? user : nullptr};
}

void* NetTranscriptUser(void) {
    return current.user;
}

int NetTranscriptActive(void) {
    return current.proc != nullptr;
}

void NetTranscriptLines(int kind, const char* text, size_t length) {
    if (!current.proc || !text) return;
    std::string_view rest(text, length);
    while (!rest.empty()) {
        std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (line.empty()) continue;
        Emit(kind, line);
    }
}
