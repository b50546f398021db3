// The console frame: building outbound messages and reading the fields of
// inbound ones. Inbound text comes from the network, so every read here is
// bounded by the text's own size.
#include "console/frame.h"

#include "outside/vlTRLog.h"

#include <climits>

namespace vltr::console {

static std::size_t decimalDigits(long value);

// Number of characters "%ld" gives for value.
static std::size_t decimalDigits(long value) {
  return std::to_string(value).size();
}

// The peers' length rule: everything but the length field, then the digits
// of that sum. Where adding the digits carries into one more digit the field
// reads one less than the true length; peers compare against it as it is.
long ConsoleFrameLength(int type, std::string_view text) {
  long withoutField = static_cast<long>(kFrameMarker.size() + 3 * kFieldSeparator.size() +
                                        decimalDigits(type) + text.size());
  return withoutField + static_cast<long>(decimalDigits(withoutField));
}

// The leading decimal, as atoi reads it but without its overflow.
int ConsoleFieldNumber(std::string_view field) {
  std::size_t at = 0;
  while (at < field.size() && (field[at] == ' ' || (field[at] >= '\t' && field[at] <= '\r')))
    ++at;
  bool negative = false;
  if (at < field.size() && (field[at] == '+' || field[at] == '-')) {
    negative = field[at] == '-';
    ++at;
  }
  long long value = 0;
  for (; at < field.size() && field[at] >= '0' && field[at] <= '9'; ++at) {
    value = value * 10 + (field[at] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1)
      value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative)
    return static_cast<int>(-value < INT_MIN ? INT_MIN : -value);
  return static_cast<int>(value > INT_MAX ? INT_MAX : value);
}

} // namespace vltr::console

using namespace vltr::console;

// Frames type and text for sending.
std::string GenerateOutboundConsoleMessage(int type, std::string_view text) {
  std::string message;
  message.reserve(text.size() + 32);
  message.append(kFrameMarker);
  message.append(kFieldSeparator);
  message.append(std::to_string(ConsoleFrameLength(type, text)));
  message.append(kFieldSeparator);
  message.append(std::to_string(type));
  message.append(kFieldSeparator);
  message.append(text);
  return message;
}

// Copies the next field; see frame.h.
int GetNextConsoleField(std::string_view text, std::size_t *position, std::string_view separator,
                        std::string *field, std::size_t limit) {
  if (position == nullptr || *position >= text.size())
    return 0;
  std::size_t start = *position;
  std::size_t end = separator.empty() ? std::string_view::npos : text.find(separator, start);
  std::size_t length = (end == std::string_view::npos ? text.size() : end) - start;
  if (field != nullptr) {
    std::size_t room = limit > 0 ? limit - 1 : 0;
    field->assign(text.substr(start, length < room ? length : room));
  }
  *position = end == std::string_view::npos ? std::string_view::npos : end + separator.size();
  return 1;
}

// 1 when the whole message has arrived. The caller has seen "CSL" and at
// least five bytes; a text without them is simply not complete.
int CheckCompleteConsoleMessage(std::string_view received) {
  if (received.size() < kFrameHeaderSize)
    return 0;
  std::size_t position = kFrameHeaderSize;
  std::string lengthField;
  if (!GetNextConsoleField(received, &position, kFieldSeparator, &lengthField, kNumberFieldLimit))
    return 0;
  // A length field without the separator after it may still be arriving:
  // "CSL##2" can be the start of "CSL##23##...".
  if (position == std::string_view::npos)
    return 0;
  int length = ConsoleFieldNumber(lengthField);
  if (length == 0) {
    vlLog_Write(1, 0, nullptr, "vlTRConsoleShared", "CheckCompleteConsoleMessage", "s",
                "Inbound message length is not numeric");
    return 0;
  }
  return static_cast<long long>(received.size()) >= length ? 1 : 0;
}
