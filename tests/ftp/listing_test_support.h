// Helpers for the listing parser tests: states, dates, and parsing from exactly
// sized heap copies so that a read past the end of a line is caught by the
// address sanitizer.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "ftp/listing_parser.h"
#include "support/time_text.h"

namespace listing_test {

inline SYSTEMTIME Day(int year, int month, int day, int hour = 0, int minute = 0) {
    SYSTEMTIME date{};
    date.wYear = static_cast<WORD>(year);
    date.wMonth = static_cast<WORD>(month);
    date.wDay = static_cast<WORD>(day);
    date.wHour = static_cast<WORD>(hour);
    date.wMinute = static_cast<WORD>(minute);
    return date;
}

// The listings below are read on 15 June 2024 unless a test says otherwise.
inline const SYSTEMTIME kNow = Day(2024, 6, 15, 10, 0);

inline ftp::ListingParserState StateFor(int format, int systemType = 0, SYSTEMTIME now = kNow) {
    ftp::ListingParserState state;
    state.format = format;
    state.systemType = systemType;
    state.now = now;
    return state;
}

// A copy of the text in a heap block of exactly its size, without terminator.
class ExactLine {
  public:
    explicit ExactLine(std::string_view text)
        : size_(text.size()), data_(new char[text.size() == 0 ? 1 : text.size()]) {
        if (size_ != 0) std::memcpy(data_.get(), text.data(), size_);
    }
    std::string_view view() const { return {data_.get(), size_}; }

  private:
    std::size_t size_;
    std::unique_ptr<char[]> data_;
};

inline bool Parse(ftp::ListingParserState& state, std::string_view line, ftp::ListingEntry& entry) {
    ExactLine exact(line);
    return ftp::ParseListingLine(state, exact.view(), entry);
}

inline ftp::ListingEntry MustParse(ftp::ListingParserState& state, std::string_view line) {
    ftp::ListingEntry entry;
    EXPECT_TRUE(Parse(state, line, entry)) << line;
    return entry;
}

inline ftp::ListingEntry MustParse(int format, std::string_view line, int systemType = 0,
                                   SYSTEMTIME now = kNow) {
    ftp::ListingParserState state = StateFor(format, systemType, now);
    return MustParse(state, line);
}

inline bool Fails(int format, std::string_view line, int systemType = 0) {
    ftp::ListingParserState state = StateFor(format, systemType);
    ftp::ListingEntry entry;
    return !Parse(state, line, entry);
}

// Year, month, day, hour, minute of a parsed date, for compact comparisons.
inline std::string DateText(const SYSTEMTIME& date) {
    return testsupport::TimeText(date).substr(0, 16);
}

// One entry as "[name]|size|d or f|owner:group|date with seconds", the
// owner part left out when the line has neither; "dropped" for no entry.
inline std::string Entry(ftp::ListingParserState& state, std::string_view line) {
    ftp::ListingEntry entry;
    if (!Parse(state, line, entry)) return "dropped";
    const FtpDirectoryEntry& f = entry.fields;
    const std::string owner =
        *f.owner || *f.group ? std::string(f.owner) + ":" + f.group + "|" : "";
    return "[" + std::string(f.name) + "]|" + std::to_string(f.size) + "|" +
           (f.directory ? "d|" : "f|") + owner + testsupport::TimeText(f.date);
}

inline std::string Entry(std::string_view line, int systemType = 0) {
    ftp::ListingParserState state = StateFor(FTP_DIRECTORY_AUTO, systemType);
    return Entry(state, line);
}

struct ListingCase {
    const char* family;
    const char* line;
    const char* entry;
};

// Each line read alone with the given system type.
inline void ExpectEntries(std::initializer_list<ListingCase> cases, int systemType = 0) {
    for (const ListingCase& c : cases)
        EXPECT_EQ(Entry(c.line, systemType), c.entry) << c.family << ": " << c.line;
}

}  // namespace listing_test
