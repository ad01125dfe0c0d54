// The login of a host in a netrc file (the grammar of ftp(1) and curl: machine,
// default, login, password, account, macdef).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/secret_string.h"

struct NetrcLogin {
    std::string login;
    SecretBytes password;
    bool hasPassword = false;
};

// The first "machine" entry for host (compared without case), else the
// "default" entry; with user given, only an entry with that login (or none).
std::optional<NetrcLogin> FindNetrcLogin(std::string_view text, std::string_view host,
                                         std::string_view user);
