// libFuzzer target for the listing parser (built and run by scripts/fuzz.sh).
//
// The first byte chooses the format, the system type and the modes; the rest
// is a listing whose lines are parsed one after the other with one state, so
// that VMS continuation lines are exercised too. Every entry that parses has
// terminated texts, a name and, when it has a date, one that can exist.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "ftp/listing_parser.h"

namespace {

constexpr int kFormats[] = {FTP_DIRECTORY_AUTO,    FTP_DIRECTORY_UNIX,      FTP_DIRECTORY_MSDOS,
                            FTP_DIRECTORY_VMS,     FTP_DIRECTORY_STERLING1, FTP_DIRECTORY_STERLING2,
                            FTP_DIRECTORY_NETWARE, FTP_DIRECTORY_MLSD};

void CheckTerminated(const char* text, std::size_t capacity) {
    if (std::memchr(text, '\0', capacity) == nullptr) __builtin_trap();
}

// Each line in a heap block of exactly its size.
void ParseLine(ftp::ListingParserState& state, std::string_view line) {
    std::unique_ptr<char[]> copy(new char[line.size() + 1]);
    std::memcpy(copy.get(), line.data(), line.size());
    ftp::ListingEntry entry;
    if (!ftp::ParseListingLine(state, std::string_view(copy.get(), line.size()), entry)) return;
    CheckTerminated(entry.fields.name, sizeof entry.fields.name);
    CheckTerminated(entry.fields.owner, sizeof entry.fields.owner);
    CheckTerminated(entry.fields.group, sizeof entry.fields.group);
    CheckTerminated(entry.linkTarget.data(), entry.linkTarget.size());
    if (entry.fields.reserved != 0 || entry.fields.name[0] == '\0') __builtin_trap();
    const SYSTEMTIME& date = entry.fields.date;
    if (date.wYear == 0) return;  // facts without a modify time
    if (date.wMonth < 1 || date.wMonth > 12 || date.wDay < 1 || date.wDay > 31 || date.wHour > 23 ||
        date.wMinute > 59 || date.wDayOfWeek > 6) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t choice = data[0];
    ftp::ListingParserState state;
    state.format = kFormats[choice & 7];
    state.systemType = (choice >> 3) % 6;
    state.nameOnly = (choice & 0x40) != 0 && (choice & 0x80) == 0;
    state.secureShell = (choice & 0xC0) == 0xC0;
    state.now.wYear = 2024;
    state.now.wMonth = 1;
    state.now.wDay = 15;
    std::string_view listing(reinterpret_cast<const char*>(data) + 1, size - 1);

    FtpDirectoryEntry facts{};
    ftp::ParseFacts(listing, facts);
    while (!listing.empty()) {
        std::size_t end = listing.find('\n');
        std::string_view line = listing.substr(0, end);
        ParseLine(state, line);
        listing.remove_prefix(end == std::string_view::npos ? listing.size() : end + 1);
    }
    return 0;
}
