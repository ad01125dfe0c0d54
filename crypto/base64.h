// Base64 (RFC 4648, standard alphabet) for the text forms of keys and hashed host
// names. Lives here so that ssh/ can reach it without the HTTP engine.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// With "=" padding to a multiple of four characters.
std::string Base64Encode(std::span<const std::uint8_t> bytes);
// Strict: only the alphabet, padding optional but only at the end and only as
// much as the length calls for, and no leftover bits set. nullopt otherwise.
std::optional<std::vector<std::uint8_t>> Base64Decode(std::string_view text);
