// A reader over one listing line (or one field of it): the text cursor with
// the listing's token rules.
#pragma once

#include <string_view>

#include "platform/text_cursor.h"

namespace ftp {

class ListingCursor : public TextCursor {
  public:
    using TextCursor::TextCursor;

    // Listing tokens are separated by blanks, tabs, CRs and LFs.
    static bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

    // The next run of non-separators; false when only separators are left.
    bool NextToken(std::string_view& token) {
        SkipWhile(IsSeparator);
        if (AtEnd()) return false;
        token = TakeWhile([](char c) { return !IsSeparator(c); });
        return true;
    }

    // What follows the separator after the last token read, without its leading
    // blanks and tabs and without the line end.
    std::string_view TakeRestAfterSeparator() {
        char separator = 0;
        Take(separator);
        SkipWhile([](char c) { return c == ' ' || c == '\t'; });
        std::string_view taken = TakeRest();
        while (!taken.empty() && (taken.back() == '\r' || taken.back() == '\n'))
            taken.remove_suffix(1);
        return taken;
    }
};

}  // namespace ftp
