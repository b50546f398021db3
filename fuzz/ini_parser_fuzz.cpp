// Fuzzes the INI document: parse any bytes, write them back, parse again and
// require the same sections and entries; then an edit must read back and
// leave the other sections alone.
#include "platform/ini_file.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

using vltr::ini::IniDocument;

namespace {

void require(bool condition, const char *what) {
  if (condition)
    return;
  std::fprintf(stderr, "ini_parser_fuzz: %s\n", what);
  std::abort();
}

bool sameContent(const IniDocument &a, const IniDocument &b) {
  if (a.sectionNames() != b.sectionNames())
    return false;
  for (const std::string &section : a.sectionNames())
    if (a.entries(section) != b.entries(section))
      return false;
  return true;
}

// The other sections of a document, to compare before and after an edit.
bool sameOtherSections(const IniDocument &a, const IniDocument &b, const std::string &edited) {
  for (const std::string &section : a.sectionNames()) {
    if (section == edited)
      continue;
    if (a.entries(section) != b.entries(section))
      return false;
  }
  return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char *>(data), size);
  const IniDocument document = IniDocument::parse(input);
  const std::string written = document.serialize();
  const IniDocument reparsed = IniDocument::parse(written);
  require(sameContent(document, reparsed), "content changed by writing back");
  require(document.damagedLines() == reparsed.damagedLines(), "damaged lines moved");
  require(reparsed.serialize() == written, "second write differs from the first");

  // Edit a section the input has (or a new one) with a value taken from it.
  const std::vector<std::string> names = document.sectionNames();
  const std::string section = names.empty() ? "Default" : names.front();
  const std::string key = "Message";
  const std::string value(input.substr(0, 200));
  if (!IniDocument::isWritable(section, key, value))
    return 0;
  IniDocument edited = reparsed;
  require(edited.setValue(section, key, value) != vltr::ini::EditResult::Invalid,
          "a writable value was refused");
  std::string expected = value;
  for (char &c : expected)
    if (c == '\r' || c == '\n')
      c = ' ';
  const IniDocument editedAgain = IniDocument::parse(edited.serialize());
  require(editedAgain.value(section, key) == expected, "written value does not read back");
  require(sameOtherSections(document, editedAgain, section), "edit touched another section");

  edited.removeSection(section);
  const IniDocument removed = IniDocument::parse(edited.serialize());
  require(!removed.value(section, key), "removed section still has the key");
  require(sameOtherSections(document, removed, section), "removal touched another section");
  return 0;
}
