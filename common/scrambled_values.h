// Scrambled registry values: passwords and database log-on names are kept in
// the registry as binary values, one scrambled 32-bit word per character,
// never as plain text. Both programs use these two routines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The registry root the key path is below. Every caller passes HKEY_LOCAL_MACHINE.
enum class vlRootKey { HKeyLocalMachine };

// Stores text scrambled as the binary value valueName of the existing key
// keyPath. Returns 1 when stored, 0 otherwise (logged).
int vlHlpSvc1(const std::string &text, vlRootKey rootKey, const std::string &keyPath,
              const std::string &valueName);

// Reads the scrambled value back into buffer (replacing its contents; no more
// than capacity - 1 characters fit). Returns 1 when buffer holds the text or
// when the value does not exist (buffer left as it was), 0 on failure (logged).
int vlHlpSvc2(vlRootKey rootKey, const std::string &keyPath, const std::string &valueName,
              std::string *buffer, std::size_t capacity);

namespace vltr::scrambled {

// One character to its stored word, and a stored word back to the character.
std::uint32_t scrambleCharacter(char character);
char unscrambleWord(std::uint32_t word);

} // namespace vltr::scrambled
