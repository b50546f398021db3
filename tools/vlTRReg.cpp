// vlTRReg - the registry store from the command line.
//
// Scripts, tests and the configuration utility (on a remote host, over SSH)
// read and change the registry with it. Every failure is one line on stderr
// and a non-zero exit: 1 when the operation failed, 2 for a bad command line.
#include "outside/vlTRREG.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;

const char *const kUsageText =
    "Usage: vlTRReg VERB ARGUMENTS\n"
    "The registry store (HKEY_LOCAL_MACHINE) in $VLTR_REGISTRY, else "
    "/etc/vltrprintq/registry.reg.\n"
    "KEY is a path below HKEY_LOCAL_MACHINE with backslashes, e.g.\n"
    "  'Software\\Oskarn\\Velorin Trelli Print Queue Monitor\\CurrentVersion'\n"
    "\n"
    "  vlTRReg get KEY NAME          print the value: text as is, number in decimal,\n"
    "                                flag 0 or 1, binary as lower-case hex\n"
    "  vlTRReg set KEY NAME --string TEXT | --number N | --flag 0|1 | --binary HEX\n"
    "                                set the value (creates the key); N is decimal or 0x hex\n"
    "  vlTRReg delete KEY [NAME]     delete the value, or the key with everything below it\n"
    "  vlTRReg export [KEY]          write the key and everything below it (all without KEY)\n"
    "                                as .reg text to stdout\n"
    "  vlTRReg import FILE           merge a .reg file (checked whole first; '-' is stdin)\n"
    "  vlTRReg --help                this text\n";

int fail(const std::string &message) {
  std::cerr << "vlTRReg: " << message << "\n";
  return kFailed;
}

int usage(const std::string &message) {
  std::cerr << "vlTRReg: " << message << " (see vlTRReg --help)\n";
  return kUsage;
}

// The one-line reason for a failed registry call.
std::string reason(int code, const std::string &key, const std::string &name) {
  switch (code) {
  case VLREG_NOT_FOUND:
    return name.empty() ? "no key " + key : "no value \"" + name + "\" in " + key;
  case VLREG_BAD_NAME:
    return "bad key path or value name: " + key;
  case VLREG_BAD_FILE:
  case VLREG_IO_ERROR:
  case VLREG_ACCESS: {
    std::string detail = vlREG_LastErrorText();
    return detail.empty() ? "access denied" : detail;
  }
  default:
    return "registry error " + std::to_string(code);
  }
}

std::string toHex(const std::vector<std::uint8_t> &bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (std::uint8_t byte : bytes) {
    text += digits[byte >> 4];
    text += digits[byte & 0xf];
  }
  return text;
}

bool parseHex(const std::string &text, std::vector<std::uint8_t> *bytes) {
  auto digit = [](char c) {
    if (c >= '0' && c <= '9')
      return c - '0';
    if (c >= 'a' && c <= 'f')
      return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
      return c - 'A' + 10;
    return -1;
  };
  if (text.size() % 2 != 0)
    return false;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    int high = digit(text[i]);
    int low = digit(text[i + 1]);
    if (high < 0 || low < 0)
      return false;
    bytes->push_back(static_cast<std::uint8_t>(high * 16 + low));
  }
  return true;
}

// A 32-bit number in decimal or 0x hex, nothing else.
bool parseNumber(const std::string &text, std::uint32_t *number) {
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  std::string digits = hex ? text.substr(2) : text;
  if (digits.empty() || digits.size() > 10)
    return false;
  unsigned long long value = 0;
  for (char c : digits) {
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (hex && c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (hex && c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return false;
    value = value * (hex ? 16 : 10) + static_cast<unsigned>(digit);
  }
  if (value > 0xFFFFFFFFull)
    return false;
  *number = static_cast<std::uint32_t>(value);
  return true;
}

int runGet(const std::vector<std::string> &args) {
  if (args.size() != 2)
    return usage("get needs KEY NAME");
  const std::string &key = args[0];
  const std::string &name = args[1];
  VLREGKEY handle = 0;
  int code = vlREG_OpenKey(key, VLREG_QUERY_VALUE, &handle);
  if (code != VLREG_OK)
    return fail(reason(code, key, ""));
  vlREG_CloseKey(handle);

  // Try each kind in turn; only a value of another kind moves on to the next.
  std::uint32_t number = 0;
  code = vlREG_ReadNumber(key, name, &number);
  if (code == VLREG_OK) {
    std::cout << number << "\n";
    return 0;
  }
  std::string text;
  if (code == VLREG_WRONG_KIND)
    code = vlREG_ReadString(key, name, &text, std::string::npos);
  if (code == VLREG_OK) {
    std::cout << text << "\n";
    return 0;
  }
  std::vector<std::uint8_t> bytes;
  if (code == VLREG_WRONG_KIND)
    code = vlREG_ReadBinary(key, name, &bytes);
  if (code == VLREG_OK) {
    std::cout << toHex(bytes) << "\n";
    return 0;
  }
  return fail(reason(code, key, name));
}

int runSet(const std::vector<std::string> &args) {
  if (args.size() != 4)
    return usage("set needs KEY NAME --string TEXT | --number N | --flag 0|1 | --binary HEX");
  const std::string &key = args[0];
  const std::string &name = args[1];
  const std::string &kind = args[2];
  const std::string &data = args[3];
  int code;
  if (kind == "--string") {
    code = vlREG_WriteString(key, name, data);
  } else if (kind == "--number") {
    std::uint32_t number = 0;
    if (!parseNumber(data, &number))
      return usage("bad number \"" + data + "\" (decimal or 0x hex, 0 to 4294967295)");
    code = vlREG_WriteNumber(key, name, number);
  } else if (kind == "--flag") {
    if (data != "0" && data != "1")
      return usage("bad flag \"" + data + "\" (0 or 1)");
    code = vlREG_WriteFlag(key, name, data == "1");
  } else if (kind == "--binary") {
    std::vector<std::uint8_t> bytes;
    if (!parseHex(data, &bytes))
      return usage("bad hex \"" + data + "\" (pairs of hex digits without separators)");
    code = vlREG_WriteBinary(key, name, bytes);
  } else {
    return usage("unknown value kind \"" + kind + "\"");
  }
  return code == VLREG_OK ? 0 : fail(reason(code, key, name));
}

int runDelete(const std::vector<std::string> &args) {
  if (args.empty() || args.size() > 2)
    return usage("delete needs KEY [NAME]");
  const std::string &key = args[0];
  if (args.size() == 1) {
    std::string trimmed = key;
    while (!trimmed.empty() && trimmed.back() == '\\')
      trimmed.pop_back();
    std::size_t slash = trimmed.rfind('\\');
    std::string parent = slash == std::string::npos ? "" : trimmed.substr(0, slash);
    std::string leaf = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
    if (leaf.empty())
      return usage("delete needs a KEY below HKEY_LOCAL_MACHINE");
    int code = vlREG_DeleteKey(parent, leaf, 0);
    return code == VLREG_OK ? 0 : fail(reason(code, key, ""));
  }
  const std::string &name = args[1];
  VLREGKEY handle = 0;
  int code = vlREG_OpenKey(key, VLREG_SET_VALUE, &handle);
  if (code != VLREG_OK)
    return fail(reason(code, key, ""));
  int deleted = vlREG_DeleteValue(handle, name);
  vlREG_CloseKey(handle);
  if (deleted != 0)
    return 0;
  // DeleteValue only says "not deleted"; a read tells a missing value from a file problem.
  std::string text;
  code = vlREG_ReadString(key, name, &text, 1);
  if (code == VLREG_OK || code == VLREG_WRONG_KIND)
    return fail("cannot delete \"" + name + "\" in " + key);
  return fail(reason(code, key, name));
}

int runExport(const std::vector<std::string> &args) {
  if (args.size() > 1)
    return usage("export takes at most one KEY");
  std::string key = args.empty() ? "" : args[0];
  std::string text;
  int code = vlREG_ExportText(key, &text);
  if (code != VLREG_OK)
    return fail(reason(code, key, ""));
  std::cout << text;
  std::cout.flush();
  return std::cout ? 0 : fail("cannot write to standard output");
}

int runImport(const std::vector<std::string> &args) {
  if (args.size() != 1)
    return usage("import needs FILE");
  const std::string &file = args[0];
  std::string text;
  if (file == "-") {
    std::ostringstream content;
    content << std::cin.rdbuf();
    text = content.str();
  } else {
    std::ifstream in(file, std::ios::binary);
    if (!in)
      return fail("cannot read " + file + ": " + std::strerror(errno));
    std::ostringstream content;
    content << in.rdbuf();
    text = content.str();
  }
  std::string error;
  int code = vlREG_ImportText(text, &error);
  if (code == VLREG_BAD_IMPORT)
    return fail(file + ": " + error);
  return code == VLREG_OK ? 0 : fail(reason(code, "", ""));
}

} // namespace

int main(int argc, char **argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty())
    return usage("a verb is needed: get, set, delete, export or import");
  std::string verb = args.front();
  args.erase(args.begin());
  if (verb == "--help" || verb == "-h" || verb == "help") {
    std::cout << kUsageText;
    return 0;
  }
  if (verb == "get")
    return runGet(args);
  if (verb == "set")
    return runSet(args);
  if (verb == "delete")
    return runDelete(args);
  if (verb == "export")
    return runExport(args);
  if (verb == "import")
    return runImport(args);
  return usage("unknown verb \"" + verb + "\"");
}
