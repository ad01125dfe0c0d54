// Conversions between the bytes of a data connection and local bytes: the
// line ends of text transfers and the EBCDIC translation tables.
//
// Local text files end their lines with LF. On the wire an ASCII transfer
// ends lines with CR LF and an EBCDIC transfer with the byte 0x17; images pass
// unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace ftp {

inline constexpr unsigned char kEbcdicLineEnd = 0x17;

std::uint8_t AsciiToEbcdic(std::uint8_t c);
std::uint8_t EbcdicToAscii(std::uint8_t c);

// What a conversion carries from one block to the next.
struct LineEndState {
    bool pendingCr = false;  // reading: a CR whose next byte is not known yet
    bool lastWasCr = false;  // writing: the previous local byte was a CR
};

struct DecodeResult {
    std::size_t consumed = 0;  // wire bytes used
    std::size_t produced = 0;  // local bytes written
    bool lineEnded = false;    // stopped after a line end (oneLine only)
};

// Wire bytes to local bytes for a file type (1 ASCII, 2 EBCDIC, 3 image),
// until the input is used up or the output is full; with oneLine a text type
// stops after the first line end. ASCII reads CR LF as LF; a CR at the end of
// the input is held back in the state until the next byte is known.
DecodeResult DecodeData(int fileType, LineEndState& state, std::span<const char> in,
                        std::span<char> out, bool oneLine);
// At the end of the data: writes a held-back CR; the bytes written (0 or 1).
std::size_t FinishDecode(LineEndState& state, std::span<char> out);

struct EncodeResult {
    std::size_t consumed = 0;
    std::size_t produced = 0;
};

// Local bytes to wire bytes: ASCII sends a LF that does not follow a CR as
// CR LF; EBCDIC sends LF as 0x17, drops CR and translates the rest.
EncodeResult EncodeData(int fileType, LineEndState& state, std::span<const char> in,
                        std::span<char> out);

}  // namespace ftp
