// What the control's security properties show for an SSH connection: the
// negotiated names mapped onto the type information's constants through one table.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ssh/algorithms.h"

struct SshSecurityFigures {
    std::uint32_t cipher = 0;  // CipherConstants
    std::uint32_t cipherStrength = 0;
    std::uint32_t hash = 0;  // HashConstants: the MAC's hash, or the authenticated cipher's tag
    std::uint32_t hashStrength = 0;
    std::uint32_t keyExchange = 0;  // KeyExchangeConstants
};

// From the client-to-server names; cipherKeyBits is the strength the cipher's
// descriptor gives, used unless the table names one. 4096 for a name the table lacks.
SshSecurityFigures SshSecurityFiguresOf(const SshNegotiatedNames& names, int cipherKeyBits);

// The figures of an SSH-1 session: the cipher (by its protocol number) with its
// fixed strength (triple DES 168, Blowfish 128, single DES 56), and the hash and
// key-exchange values the record has always shown for SSH-1 (SHA 160,
// Diffie-Hellman).
SshSecurityFigures Ssh1SecurityFiguresOf(int cipherNumber);

// The six names comma-separated in the order of the key-exchange init lists: key
// exchange, host key, cipher client to server and server to client, MAC client to
// server and server to client ("" for the MAC of an authenticated cipher).
std::string SshAlgorithmsText(const SshNegotiatedNames& names);
