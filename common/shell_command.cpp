#include "common/shell_command.h"

#include <vector>

namespace vltr {
namespace {

enum class Frame { Plain, Substitution, Backtick, Single, Double, Comment };

bool startsWord(std::string_view text, std::size_t at) {
  if (at == 0)
    return true;
  char before = text[at - 1];
  return before == ' ' || before == '\t' || before == '\n' || before == ';' || before == '&' ||
         before == '|' || before == '(' || before == ')';
}

} // namespace

ShellContext ShellContextAfter(std::string_view text) {
  // A stack, because "$(...)" and back-ticks start plain shell code again,
  // also inside double quotes.
  std::vector<Frame> frames{Frame::Plain};
  std::vector<int> parens{0};
  for (std::size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    const Frame top = frames.back();
    if (top == Frame::Single) {
      if (c == '\'')
        frames.pop_back();
      continue;
    }
    if (top == Frame::Comment) {
      if (c == '\n')
        frames.pop_back();
      continue;
    }
    if (c == '\\') {
      ++at;
      continue;
    }
    if (c == '$' && at + 1 < text.size() && text[at + 1] == '(') {
      frames.push_back(Frame::Substitution);
      parens.push_back(0);
      ++at;
      continue;
    }
    if (c == '`') {
      if (top == Frame::Backtick)
        frames.pop_back();
      else
        frames.push_back(Frame::Backtick);
      continue;
    }
    if (top == Frame::Double) {
      if (c == '"')
        frames.pop_back();
      continue;
    }
    // Plain shell code.
    if (c == '\'') {
      frames.push_back(Frame::Single);
    } else if (c == '"') {
      frames.push_back(Frame::Double);
    } else if (c == '#' && startsWord(text, at)) {
      frames.push_back(Frame::Comment);
    } else if (top == Frame::Substitution && c == '(') {
      ++parens.back();
    } else if (top == Frame::Substitution && c == ')') {
      if (parens.back() == 0) {
        frames.pop_back();
        parens.pop_back();
      } else {
        --parens.back();
      }
    }
  }
  switch (frames.back()) {
  case Frame::Single:
    return ShellContext::SingleQuoted;
  case Frame::Double:
    return ShellContext::DoubleQuoted;
  case Frame::Comment:
    return ShellContext::Comment;
  default:
    return ShellContext::Plain;
  }
}

ShellCommand ExpandShellCommand(int errorType, std::string_view text,
                                const PlacemarkerValues &values, int dateFormat) {
  ShellCommand command;
  command.display =
      ExpandPlacemarkers(PlacemarkerRoutine::String, errorType, text, values, dateFormat);
  command.text = ExpandPlacemarkers(
      PlacemarkerRoutine::String, errorType, text, values, dateFormat,
      [&command](std::string &out, std::string_view value) {
        const std::string name = "VLTR_VALUE_" + std::to_string(command.environment.size() + 1);
        // An environment entry ends at a zero byte; so does the value.
        command.environment.push_back(name + "=" + std::string(value.substr(0, value.find('\0'))));
        const std::string reference = "${" + name + "}";
        switch (ShellContextAfter(out)) {
        case ShellContext::Plain:
          out += "\"" + reference + "\"";
          break;
        case ShellContext::DoubleQuoted:
        case ShellContext::Comment:
          out += reference;
          break;
        case ShellContext::SingleQuoted:
          // Leave the single quotes for the expansion, then go back in.
          out += "'\"" + reference + "\"'";
          break;
        }
      });
  return command;
}

} // namespace vltr
