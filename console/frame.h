// The console frame: "CSL##length##type##text", the one message shape used
// in both directions between the service and its remote consoles.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vltr::console {

inline constexpr std::string_view kFrameMarker = "CSL";
inline constexpr std::string_view kFieldSeparator = "##";
// Marker and first separator: where the length field begins.
inline constexpr std::size_t kFrameHeaderSize = 5;
// Buffer sizes of the length and request-number fields (one byte is the terminator).
inline constexpr std::size_t kNumberFieldLimit = 50;

// The length field the frame carries for a type and text. Peers compute it
// the same way, so its one-byte error where the digit count carries is kept.
long ConsoleFrameLength(int type, std::string_view text);

// The leading decimal of a field as the peers read it (blanks skipped, an
// optional sign, digits); 0 when there is none. Clamped to the int range.
int ConsoleFieldNumber(std::string_view field);

} // namespace vltr::console

// Frames type and text for sending.
std::string GenerateOutboundConsoleMessage(int type, std::string_view text);

// 1 when the received text holds as many bytes as its length field says.
int CheckCompleteConsoleMessage(std::string_view received);

// Copies text from *position up to the next separator into *field (at most
// limit - 1 bytes) and moves *position past the separator; without a further
// separator the rest is the field and *position becomes npos ("end").
// Returns 0 only when *position was already at the end.
int GetNextConsoleField(std::string_view text, std::size_t *position, std::string_view separator,
                        std::string *field, std::size_t limit);
