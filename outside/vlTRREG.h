// vlTRREG - the configuration registry of both programs.
//
// HKEY_LOCAL_MACHINE is kept in one text file in the "Registry Editor Version
// 5.00" export format, at $VLTR_REGISTRY or else /etc/vltrprintq/registry.reg.
// Key paths are below HKEY_LOCAL_MACHINE and use backslashes. Key and value
// names match without regard to case and keep the case they were written in.
//
// Every operation returns 0 for success and nonzero otherwise (vlREG_CreateKey
// and vlREG_DeleteValue excepted, as noted); callers apply their own defaults.
// Writes are atomic and locked across processes; a damaged file is reported
// with its line number and is never overwritten.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Error codes: the Windows system error numbers of the same meaning.
enum : int {
  VLREG_OK = 0,
  VLREG_NOT_FOUND = 2,   // no such key or value
  VLREG_WRONG_KIND = 13, // the value exists but is of another kind
  VLREG_BAD_FILE = 1009, // the registry file is damaged (see the log)
  VLREG_BAD_HANDLE = 6,
  VLREG_ACCESS = 5,      // the handle was not opened for this, or the file may not be read
  VLREG_NO_REMOTE = 53,  // the remote computer cannot be reached
  VLREG_BAD_NAME = 123,  // a key path with an empty key name, or a name with a line break
  VLREG_BAD_IMPORT = 87, // the text given to vlREG_ImportText is not a valid .reg text
  VLREG_IO_ERROR = 1117, // the registry file cannot be read or written (see the log)
};

// Key access masks the callers pass to vlREG_OpenKey.
enum : std::uint32_t {
  VLREG_QUERY_VALUE = 0x1,
  VLREG_SET_VALUE = 0x2,
  VLREG_ENUMERATE_SUB_KEYS = 0x8,
  VLREG_KEY_READ = 0x20019,
  VLREG_KEY_ALL_ACCESS = 0xF003F,
};

using VLREGKEY = int; // 0 is never a valid handle

// Path operations: open and close the key themselves. Writes create the key.
int vlREG_ReadFlag(const std::string &path, const std::string &name, bool *value, void * = nullptr);
int vlREG_ReadNumber(const std::string &path, const std::string &name, std::uint32_t *value,
                     void * = nullptr);
// The text is cut to capacity - 1 bytes. A failed read (a missing value, one
// of another kind, a damaged file) copies the default when one is given and
// still returns nonzero.
int vlREG_ReadString(const std::string &path, const std::string &name, std::string *value,
                     std::size_t capacity, const char *defaultText = nullptr);
int vlREG_WriteFlag(const std::string &path, const std::string &name, bool value);
int vlREG_WriteNumber(const std::string &path, const std::string &name, std::uint32_t value);
int vlREG_WriteString(const std::string &path, const std::string &name, const std::string &value);
int vlREG_ReadBinary(const std::string &path, const std::string &name,
                     std::vector<std::uint8_t> *value);
int vlREG_WriteBinary(const std::string &path, const std::string &name,
                      const std::vector<std::uint8_t> &value);

// Key operations.
int vlREG_OpenKey(const std::string &path, std::uint32_t access, VLREGKEY *key);
int vlREG_CreateKey(const std::string &path); // 1 = created or present, 0 = failed
void vlREG_CloseKey(VLREGKEY key);
int vlREG_DeleteValue(VLREGKEY key, const std::string &name); // nonzero = deleted, 0 = none
int vlREG_ReadKeyFlag(VLREGKEY key, const std::string &name, bool *value);
int vlREG_ReadKeyNumber(VLREGKEY key, const std::string &name, std::uint32_t *value);
int vlREG_ReadKeyString(VLREGKEY key, const std::string &name, std::string *value,
                        std::size_t capacity);
int vlREG_ReadKeyBinary(VLREGKEY key, const std::string &name, std::vector<std::uint8_t> *value);
int vlREG_WriteKeyFlag(VLREGKEY key, const std::string &name, bool value);
int vlREG_WriteKeyNumber(VLREGKEY key, const std::string &name, std::uint32_t value);
int vlREG_WriteKeyString(VLREGKEY key, const std::string &name, const std::string &value);
int vlREG_WriteKeyBinary(VLREGKEY key, const std::string &name,
                         const std::vector<std::uint8_t> &value);
// Names of the key's sub-keys (the handle needs VLREG_ENUMERATE_SUB_KEYS) and
// values (VLREG_QUERY_VALUE), in file order.
int vlREG_EnumKeys(VLREGKEY key, std::vector<std::string> *names);
int vlREG_EnumValues(VLREGKEY key, std::vector<std::string> *names);
// Removes parentPath\subKey with everything below it.
int vlREG_DeleteKey(const std::string &parentPath, const std::string &subKey, int reserved = 0);

// Remote registries. Only the local computer (empty name, "localhost" or
// this computer's name) can be reached so far; later calls keep using the
// local file. vlREG_GetRemoteRoot returns the remote root in use, if any.
int vlREG_ConnectRemote(const std::string &computerName);
std::optional<std::string> vlREG_GetRemoteRoot();

// Numbered lists ("Printer1", "Printer2", ...): read from 1 up to the first
// number that cannot be read; clear by deleting from 1 until a deletion fails.
std::vector<std::string> vlREG_ReadStringList(const std::string &path, const std::string &prefix,
                                              std::size_t capacity);
void vlREG_ClearList(const std::string &path, const std::string &prefix);

// The file in use: $VLTR_REGISTRY, else /etc/vltrprintq/registry.reg.
std::string vlREG_FilePath();

// The key at path and everything below it as .reg text (the empty path: the
// whole registry).
int vlREG_ExportText(const std::string &path, std::string *text);
// Merges a .reg text (deletions included) in one atomic write. The whole text
// is checked first: a bad line changes nothing, returns VLREG_BAD_IMPORT and
// puts "line N: what is wrong" into error.
int vlREG_ImportText(const std::string &text, std::string *error);

// Why the calling thread's last call failed with VLREG_BAD_FILE, VLREG_ACCESS
// or VLREG_IO_ERROR because of the registry file (the logged line), else empty.
std::string vlREG_LastErrorText();

// The service's root key.
inline constexpr const char *VLTR_ROOT_KEY =
    "Software\\Oskarn\\Velorin Trelli Print Queue Monitor\\CurrentVersion";
