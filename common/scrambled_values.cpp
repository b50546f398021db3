// Scrambled registry values: an RSA-style power over a small modulus.
//
// Each character, taken as a signed byte widened to 32 bits, is raised to the
// public exponent modulo the modulus; reading raises the word to the private
// exponent and keeps the low byte. Characters above 127 widen to 0xFFFFFF80
// and up, far beyond the modulus, so they come back as the widened code
// reduced by the modulus, not as the code itself. The modulus is chosen so
// that this reduction subtracts a multiple of 256 * modulus from every such
// code ((2^24 - 1) mod 54827 = 153 and 256 * 153 + 255 < 54827), which leaves
// the low byte intact: every byte value reads back unchanged. The tests prove it.
#include "common/scrambled_values.h"

#include "outside/vlTRLog.h"
#include "outside/vlTRREG.h"

#include <vector>

namespace vltr::scrambled {

namespace {

// 54827 = 109 * 503; 29 * 50477 = 1 mod (108 * 502).
constexpr std::uint32_t kModulus = 54827;
constexpr std::uint32_t kPublicExponent = 29;
constexpr std::uint32_t kPrivateExponent = 50477;

// Square-and-multiply in 32-bit unsigned arithmetic: each product truncated
// to 32 bits, then reduced. The modulus is below 65536, so the product of two
// residues never actually overflows.
std::uint32_t power(std::uint32_t base, std::uint32_t exponent, std::uint32_t modulus) {
  std::uint32_t result = 1;
  base %= modulus;
  while (exponent != 0) {
    if (exponent & 1)
      result = static_cast<std::uint32_t>(result * base) % modulus;
    base = static_cast<std::uint32_t>(base * base) % modulus;
    exponent >>= 1;
  }
  return result;
}

} // namespace

std::uint32_t scrambleCharacter(char character) {
  auto code =
      static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(character)));
  return power(code, kPublicExponent, kModulus);
}

char unscrambleWord(std::uint32_t word) {
  return static_cast<char>(power(word, kPrivateExponent, kModulus) & 0xff);
}

} // namespace vltr::scrambled

namespace {

constexpr const char *kLogModule = "vlHlpSvcs";
// The read buffer of the stored value: 128 characters at most.
constexpr std::size_t kReadBufferSize = 512;

// The key path as the registry library addresses it: below the remote root when one is in use.
std::string keyPathBelowRoot(const std::string &keyPath) {
  std::optional<std::string> remoteRoot = vlREG_GetRemoteRoot();
  if (!remoteRoot)
    return keyPath;
  return *remoteRoot + "\\" + keyPath;
}

} // namespace

int vlHlpSvc1(const std::string &text, vlRootKey, const std::string &keyPath,
              const std::string &valueName) {
  VLREGKEY key = 0;
  if (vlREG_OpenKey(keyPathBelowRoot(keyPath), VLREG_SET_VALUE, &key) != VLREG_OK) {
    vlLog_Write(1, 0, nullptr, kLogModule, "vlHlpSvc1", "s",
                "Internal error #1 - unable to save the requested value to the Registry");
    return 0;
  }
  std::vector<std::uint8_t> bytes;
  bytes.reserve(text.size() * 4);
  for (char character : text) {
    std::uint32_t word = vltr::scrambled::scrambleCharacter(character);
    for (int shift = 0; shift < 32; shift += 8)
      bytes.push_back(static_cast<std::uint8_t>(word >> shift)); // little-endian
  }
  int code = vlREG_WriteKeyBinary(key, valueName, bytes);
  vlREG_CloseKey(key);
  if (code != VLREG_OK) {
    vlLog_Write(1, 0, nullptr, kLogModule, "vlHlpSvc1", "s",
                "Internal error #2 - unable to save the requested value to the Registry");
    return 0;
  }
  return 1;
}

int vlHlpSvc2(vlRootKey, const std::string &keyPath, const std::string &valueName,
              std::string *buffer, std::size_t capacity) {
  VLREGKEY key = 0;
  if (vlREG_OpenKey(keyPathBelowRoot(keyPath), VLREG_QUERY_VALUE, &key) != VLREG_OK) {
    vlLog_Write(1, 0, nullptr, kLogModule, "vlHlpSvc2", "s",
                "Internal error #1 - unable to open the requested key in the Registry");
    return 0;
  }
  std::vector<std::uint8_t> bytes;
  int code = vlREG_ReadKeyBinary(key, valueName, &bytes);
  vlREG_CloseKey(key);
  // A value that does not fit the read buffer cannot be read either.
  if (code != VLREG_OK || bytes.size() > kReadBufferSize)
    return 1;
  std::size_t words = bytes.size() / 4;
  if (capacity == 0 || capacity - 1 < words) {
    vlLog_Write(1, 0, nullptr, kLogModule, "vlHlpSvc2", "s",
                "Internal error #3 - insufficient memory to read the requested value from the "
                "Registry");
    return 0;
  }
  std::string text;
  for (std::size_t i = 0; i < words; ++i) {
    std::uint32_t word = 0;
    for (int byte = 3; byte >= 0; --byte)
      word = (word << 8) | bytes[i * 4 + static_cast<std::size_t>(byte)];
    text += vltr::scrambled::unscrambleWord(word);
  }
  *buffer = std::move(text);
  return 1;
}
