// vlTRREG - the registry operations of both programs, over the registry store.
//
// Path operations read one snapshot or make one atomic change each, so the
// service's threads can call them at the same time. Key handles remember a
// path and the access they were opened with; the key itself is looked up again
// at every call, as another process may have changed it since.
#include "outside/vlTRREG.h"

#include "outside/registry_file.h"
#include "outside/registry_handles.h"
#include "outside/registry_store.h"

#include <algorithm>
#include <climits>
#include <unistd.h>

using vltr::reg::Key;
using vltr::reg::Snapshot;
using vltr::reg::Value;
using vltr::reg::ValueKind;

namespace {

using KeyPath = std::vector<std::string>;

// A value found in a snapshot; the snapshot keeps it alive.
struct FoundValue {
  Snapshot snapshot;
  const Value *value = nullptr;
};

int findValue(const KeyPath &path, const std::string &name, FoundValue *found) {
  int code = vltr::reg::loadRegistry(&found->snapshot);
  if (code != VLREG_OK)
    return code;
  const Key *key = vltr::reg::findKey(*found->snapshot, path);
  if (key == nullptr)
    return VLREG_NOT_FOUND;
  found->value = key->findValue(name);
  return found->value ? VLREG_OK : VLREG_NOT_FOUND;
}

int findValue(const std::string &pathText, const std::string &name, FoundValue *found) {
  auto path = vltr::reg::splitKeyPath(pathText);
  if (!path)
    return VLREG_BAD_NAME;
  return findValue(*path, name, found);
}

int numberOf(const FoundValue &found, std::uint32_t *number) {
  if (found.value->kind != ValueKind::Number)
    return VLREG_WRONG_KIND;
  *number = found.value->number;
  return VLREG_OK;
}

// The text cut to capacity - 1 bytes, as a terminated buffer of that capacity would hold it.
std::string cutText(const std::string &text, std::size_t capacity) {
  return text.substr(0, capacity == 0 ? 0 : std::min(text.size(), capacity - 1));
}

int textOf(const FoundValue &found, std::string *text, std::size_t capacity) {
  if (found.value->kind != ValueKind::Text)
    return VLREG_WRONG_KIND;
  *text = cutText(found.value->text, capacity);
  return VLREG_OK;
}

int bytesOf(const FoundValue &found, std::vector<std::uint8_t> *bytes) {
  if (found.value->kind != ValueKind::Binary)
    return VLREG_WRONG_KIND;
  *bytes = found.value->bytes;
  return VLREG_OK;
}

// Sets a value of the key at path; createKey says whether a missing key is created.
int storeValue(const KeyPath &path, Value value, bool createKey) {
  if (!vltr::reg::isValidValueName(value.name))
    return VLREG_BAD_NAME;
  return vltr::reg::changeRegistry([&](Key &root, bool &changed) {
    Key *key = createKey ? &vltr::reg::createKey(root, path) : vltr::reg::findKey(root, path);
    if (key == nullptr)
      return static_cast<int>(VLREG_NOT_FOUND);
    Value *existing = key->findValue(value.name);
    if (existing == nullptr) {
      key->values.push_back(std::move(value));
      changed = true;
      return static_cast<int>(VLREG_OK);
    }
    value.name = existing->name; // the first spelling stays
    if (!(*existing == value)) {
      *existing = std::move(value);
      changed = true;
    }
    return static_cast<int>(VLREG_OK);
  });
}

int storeValue(const std::string &pathText, Value value) {
  auto path = vltr::reg::splitKeyPath(pathText);
  if (!path)
    return VLREG_BAD_NAME;
  return storeValue(*path, std::move(value), true);
}

Value numberValue(const std::string &name, std::uint32_t number) {
  Value value;
  value.name = name;
  value.kind = ValueKind::Number;
  value.number = number;
  return value;
}

Value textValue(const std::string &name, const std::string &text) {
  Value value;
  value.name = name;
  value.kind = ValueKind::Text;
  value.text = text;
  return value;
}

Value binaryValue(const std::string &name, const std::vector<std::uint8_t> &bytes) {
  Value value;
  value.name = name;
  value.kind = ValueKind::Binary;
  value.bytes = bytes;
  return value;
}

// The open key behind handle if it was opened with one of the rights in needed.
int checkHandle(VLREGKEY handle, std::uint32_t needed, vltr::reg::OpenKey *key) {
  auto found = vltr::reg::findHandle(handle);
  if (!found)
    return VLREG_BAD_HANDLE;
  if ((found->access & needed) == 0)
    return VLREG_ACCESS;
  *key = std::move(*found);
  return VLREG_OK;
}

int readKeyValue(VLREGKEY handle, const std::string &name, FoundValue *found) {
  vltr::reg::OpenKey key;
  int code = checkHandle(handle, VLREG_QUERY_VALUE, &key);
  if (code != VLREG_OK)
    return code;
  return findValue(key.path, name, found);
}

int writeKeyValue(VLREGKEY handle, Value value) {
  vltr::reg::OpenKey key;
  int code = checkHandle(handle, VLREG_SET_VALUE, &key);
  if (code != VLREG_OK)
    return code;
  // A handle stands for a key that exists; one deleted meanwhile is not brought back.
  return storeValue(key.path, std::move(value), false);
}

// Removes the value name from the key at path; VLREG_NOT_FOUND when it is not there.
int eraseValue(Key &root, const KeyPath &path, const std::string &name) {
  Key *key = vltr::reg::findKey(root, path);
  if (key == nullptr)
    return VLREG_NOT_FOUND;
  auto found = std::find_if(key->values.begin(), key->values.end(), [&](const Value &value) {
    return vltr::reg::namesEqual(value.name, name);
  });
  if (found == key->values.end())
    return VLREG_NOT_FOUND;
  key->values.erase(found);
  return VLREG_OK;
}

bool isLocalComputer(std::string name) {
  while (name.starts_with("\\"))
    name.erase(0, 1); // "\\SERVER" as Windows spells computer names
  if (name.empty() || name == "localhost" || name == "127.0.0.1" || name == "::1")
    return true;
  char host[HOST_NAME_MAX + 1] = {};
  if (gethostname(host, sizeof host - 1) != 0)
    return false;
  std::string hostName = host;
  return vltr::reg::namesEqual(name, hostName) ||
         vltr::reg::namesEqual(name, hostName.substr(0, hostName.find('.')));
}

} // namespace

int vlREG_ReadFlag(const std::string &path, const std::string &name, bool *value, void *) {
  FoundValue found;
  std::uint32_t number = 0;
  int code = findValue(path, name, &found);
  if (code == VLREG_OK)
    code = numberOf(found, &number);
  if (code == VLREG_OK)
    *value = number != 0;
  return code;
}

int vlREG_ReadNumber(const std::string &path, const std::string &name, std::uint32_t *value,
                     void *) {
  FoundValue found;
  int code = findValue(path, name, &found);
  return code == VLREG_OK ? numberOf(found, value) : code;
}

int vlREG_ReadString(const std::string &path, const std::string &name, std::string *value,
                     std::size_t capacity, const char *defaultText) {
  FoundValue found;
  int code = findValue(path, name, &found);
  if (code == VLREG_OK)
    code = textOf(found, value, capacity);
  if (code != VLREG_OK && defaultText != nullptr)
    *value = cutText(defaultText, capacity);
  return code;
}

int vlREG_ReadBinary(const std::string &path, const std::string &name,
                     std::vector<std::uint8_t> *value) {
  FoundValue found;
  int code = findValue(path, name, &found);
  return code == VLREG_OK ? bytesOf(found, value) : code;
}

int vlREG_WriteFlag(const std::string &path, const std::string &name, bool value) {
  return storeValue(path, numberValue(name, value ? 1 : 0));
}

int vlREG_WriteNumber(const std::string &path, const std::string &name, std::uint32_t value) {
  return storeValue(path, numberValue(name, value));
}

int vlREG_WriteString(const std::string &path, const std::string &name, const std::string &value) {
  return storeValue(path, textValue(name, value));
}

int vlREG_WriteBinary(const std::string &path, const std::string &name,
                      const std::vector<std::uint8_t> &value) {
  return storeValue(path, binaryValue(name, value));
}

int vlREG_OpenKey(const std::string &path, std::uint32_t access, VLREGKEY *key) {
  auto components = vltr::reg::splitKeyPath(path);
  if (!components)
    return VLREG_BAD_NAME;
  Snapshot snapshot;
  int code = vltr::reg::loadRegistry(&snapshot);
  if (code != VLREG_OK)
    return code;
  if (vltr::reg::findKey(*snapshot, *components) == nullptr)
    return VLREG_NOT_FOUND;
  *key = vltr::reg::addHandle({std::move(*components), access});
  return VLREG_OK;
}

int vlREG_CreateKey(const std::string &path) {
  auto components = vltr::reg::splitKeyPath(path);
  if (!components)
    return 0;
  int code = vltr::reg::changeRegistry([&](Key &root, bool &changed) {
    if (vltr::reg::findKey(root, *components) == nullptr) {
      vltr::reg::createKey(root, *components);
      changed = true;
    }
    return static_cast<int>(VLREG_OK);
  });
  return code == VLREG_OK ? 1 : 0;
}

void vlREG_CloseKey(VLREGKEY key) {
  vltr::reg::removeHandle(key);
}

int vlREG_DeleteValue(VLREGKEY handle, const std::string &name) {
  vltr::reg::OpenKey key;
  if (checkHandle(handle, VLREG_SET_VALUE, &key) != VLREG_OK)
    return 0;
  int code = vltr::reg::changeRegistry([&](Key &root, bool &changed) {
    int result = eraseValue(root, key.path, name);
    changed = result == VLREG_OK;
    return result;
  });
  return code == VLREG_OK ? 1 : 0;
}

int vlREG_ReadKeyFlag(VLREGKEY key, const std::string &name, bool *value) {
  FoundValue found;
  std::uint32_t number = 0;
  int code = readKeyValue(key, name, &found);
  if (code == VLREG_OK)
    code = numberOf(found, &number);
  if (code == VLREG_OK)
    *value = number != 0;
  return code;
}

int vlREG_ReadKeyNumber(VLREGKEY key, const std::string &name, std::uint32_t *value) {
  FoundValue found;
  int code = readKeyValue(key, name, &found);
  return code == VLREG_OK ? numberOf(found, value) : code;
}

int vlREG_ReadKeyString(VLREGKEY key, const std::string &name, std::string *value,
                        std::size_t capacity) {
  FoundValue found;
  int code = readKeyValue(key, name, &found);
  return code == VLREG_OK ? textOf(found, value, capacity) : code;
}

int vlREG_ReadKeyBinary(VLREGKEY key, const std::string &name, std::vector<std::uint8_t> *value) {
  FoundValue found;
  int code = readKeyValue(key, name, &found);
  return code == VLREG_OK ? bytesOf(found, value) : code;
}

int vlREG_WriteKeyFlag(VLREGKEY key, const std::string &name, bool value) {
  return writeKeyValue(key, numberValue(name, value ? 1 : 0));
}

int vlREG_WriteKeyNumber(VLREGKEY key, const std::string &name, std::uint32_t value) {
  return writeKeyValue(key, numberValue(name, value));
}

int vlREG_WriteKeyString(VLREGKEY key, const std::string &name, const std::string &value) {
  return writeKeyValue(key, textValue(name, value));
}

int vlREG_WriteKeyBinary(VLREGKEY key, const std::string &name,
                         const std::vector<std::uint8_t> &value) {
  return writeKeyValue(key, binaryValue(name, value));
}

int vlREG_EnumKeys(VLREGKEY handle, std::vector<std::string> *names) {
  vltr::reg::OpenKey key;
  int code = checkHandle(handle, VLREG_ENUMERATE_SUB_KEYS, &key);
  Snapshot snapshot;
  if (code == VLREG_OK)
    code = vltr::reg::loadRegistry(&snapshot);
  if (code != VLREG_OK)
    return code;
  const Key *found = vltr::reg::findKey(*snapshot, key.path);
  if (found == nullptr)
    return VLREG_NOT_FOUND;
  names->clear();
  for (const Key &subKey : found->subKeys)
    names->push_back(subKey.name);
  return VLREG_OK;
}

int vlREG_EnumValues(VLREGKEY handle, std::vector<std::string> *names) {
  vltr::reg::OpenKey key;
  int code = checkHandle(handle, VLREG_QUERY_VALUE, &key);
  Snapshot snapshot;
  if (code == VLREG_OK)
    code = vltr::reg::loadRegistry(&snapshot);
  if (code != VLREG_OK)
    return code;
  const Key *found = vltr::reg::findKey(*snapshot, key.path);
  if (found == nullptr)
    return VLREG_NOT_FOUND;
  names->clear();
  for (const Value &value : found->values)
    names->push_back(value.name);
  return VLREG_OK;
}

int vlREG_DeleteKey(const std::string &parentPath, const std::string &subKey, int) {
  auto parent = vltr::reg::splitKeyPath(parentPath);
  auto below = vltr::reg::splitKeyPath(subKey);
  if (!parent || !below || below->empty() ||
      parent->size() + below->size() > vltr::reg::kMaxKeyDepth)
    return VLREG_BAD_NAME;
  parent->insert(parent->end(), below->begin(), below->end() - 1);
  const std::string &name = below->back();
  return vltr::reg::changeRegistry([&](Key &root, bool &changed) {
    Key *key = vltr::reg::findKey(root, *parent);
    if (key == nullptr)
      return static_cast<int>(VLREG_NOT_FOUND);
    auto found = std::find_if(key->subKeys.begin(), key->subKeys.end(), [&](const Key &child) {
      return vltr::reg::namesEqual(child.name, name);
    });
    if (found == key->subKeys.end())
      return static_cast<int>(VLREG_NOT_FOUND);
    key->subKeys.erase(found);
    changed = true;
    return static_cast<int>(VLREG_OK);
  });
}

int vlREG_ConnectRemote(const std::string &computerName) {
  return isLocalComputer(computerName) ? VLREG_OK : VLREG_NO_REMOTE;
}

std::optional<std::string> vlREG_GetRemoteRoot() {
  return std::nullopt;
}

std::vector<std::string> vlREG_ReadStringList(const std::string &path, const std::string &prefix,
                                              std::size_t capacity) {
  std::vector<std::string> texts;
  auto components = vltr::reg::splitKeyPath(path);
  Snapshot snapshot;
  if (!components || vltr::reg::loadRegistry(&snapshot) != VLREG_OK)
    return texts;
  const Key *key = vltr::reg::findKey(*snapshot, *components);
  if (key == nullptr)
    return texts;
  // One snapshot for the whole list, so a writer cannot make it skip or repeat an entry.
  for (std::size_t number = 1;; ++number) {
    const Value *value = key->findValue(prefix + std::to_string(number));
    if (value == nullptr || value->kind != ValueKind::Text)
      break;
    texts.push_back(cutText(value->text, capacity));
  }
  return texts;
}

void vlREG_ClearList(const std::string &path, const std::string &prefix) {
  auto components = vltr::reg::splitKeyPath(path);
  if (!components)
    return;
  vltr::reg::changeRegistry([&](Key &root, bool &changed) {
    for (std::size_t number = 1;; ++number) {
      if (eraseValue(root, *components, prefix + std::to_string(number)) != VLREG_OK)
        break;
      changed = true;
    }
    return static_cast<int>(VLREG_OK);
  });
}

std::string vlREG_FilePath() {
  return vltr::reg::registryFilePath();
}

int vlREG_ExportText(const std::string &path, std::string *text) {
  auto components = vltr::reg::splitKeyPath(path);
  if (!components)
    return VLREG_BAD_NAME;
  Snapshot snapshot;
  int code = vltr::reg::loadRegistry(&snapshot);
  if (code != VLREG_OK)
    return code;
  const Key *key = vltr::reg::findKey(*snapshot, *components);
  if (key == nullptr)
    return VLREG_NOT_FOUND;
  *text = vltr::reg::writeRegBranch(*key, *components);
  return VLREG_OK;
}

int vlREG_ImportText(const std::string &text, std::string *error) {
  vltr::reg::ParseResult parsed = vltr::reg::parseRegText(text);
  if (!parsed.ok) {
    *error = "line " + std::to_string(parsed.errorLine) + ": " + parsed.error;
    return VLREG_BAD_IMPORT;
  }
  return vltr::reg::changeRegistry([&](Key &root, bool &changed) {
    Key before = root;
    vltr::reg::applySections(root, parsed.sections);
    changed = !(before == root);
    return static_cast<int>(VLREG_OK);
  });
}

std::string vlREG_LastErrorText() {
  return vltr::reg::lastStoreError();
}
