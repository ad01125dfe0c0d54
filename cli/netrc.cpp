#include "cli/netrc.h"

#include "platform/text.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Words of the file, one at a time; a "macdef" body (up to an empty line) is
// skipped as a whole.
class Words {
  public:
    explicit Words(std::string_view text) : text_(text) {}

    std::optional<std::string_view> Next() {
        while (at_ < text_.size() && IsBlank(text_[at_]))
            ++at_;
        if (at_ >= text_.size()) return std::nullopt;
        const std::size_t start = at_;
        while (at_ < text_.size() && !IsBlank(text_[at_]))
            ++at_;
        return text_.substr(start, at_ - start);
    }
    void SkipMacro() {
        const std::size_t end = text_.find("\n\n", at_);
        at_ = end == std::string_view::npos ? text_.size() : end + 2;
    }

  private:
    std::string_view text_;
    std::size_t at_ = 0;
};

struct Entry {
    bool matches = false;
    NetrcLogin login;
};

}  // namespace

std::optional<NetrcLogin> FindNetrcLogin(std::string_view text, std::string_view host,
                                         std::string_view user) {
    Words words(text);
    std::optional<Entry> entry;
    auto finished = [&]() {
        return entry && entry->matches && (user.empty() || entry->login.login == user);
    };
    while (const std::optional<std::string_view> word = words.Next()) {
        if (*word == "machine" || *word == "default") {
            if (finished()) break;
            entry = Entry{};
            if (*word == "default") {
                entry->matches = true;
            } else if (const auto name = words.Next()) {
                entry->matches = EqualsIgnoringCase(*name, host);
            }
        } else if (*word == "macdef") {
            words.Next();
            words.SkipMacro();
        } else if (entry && (*word == "login" || *word == "password" || *word == "account")) {
            const std::optional<std::string_view> value = words.Next();
            if (!value) break;
            if (*word == "login") entry->login.login = std::string(*value);
            if (*word == "password") {
                entry->login.password.assign(*value);
                entry->login.hasPassword = true;
            }
        }
    }
    if (!finished()) return std::nullopt;
    return std::move(entry->login);
}
