// Placemarker substitution. One left-to-right scanner serves both routines;
// the few names that differ between them ask which routine is running.
// Values are inserted as they are and never scanned again, so a value that
// itself looks like a placemarker stays literal.
#include "common/placemarkers.h"

#include "outside/vlTRLog.h"
#include "outside/vlTRREG.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <strings.h>

namespace vltr {

namespace {

constexpr std::string_view kOpen = "<$$";
constexpr std::string_view kNotDefined = "[not defined]";

// What a named placemarker expands to.
enum class Field {
  Server,
  Info1,
  Info2,
  Info3,
  Message,
  Title,
  TimeLogged,
  TimeLoggedMdy,
  Source,
  TimeNow,
  TimeNowMdy,
  OsName,
  ServicePack,
  AlertLevel,
};

struct Placemarker {
  std::string_view token;
  Field field;
};

constexpr Placemarker kGeneric[] = {
    {"<$$SERVER>", Field::Server},
    {"<$$INFO>", Field::Info1},
    {"<$$INFO1>", Field::Info1},
    {"<$$INFO2>", Field::Info2},
    {"<$$INFO3>", Field::Info3},
    {"<$$ERROR>", Field::Message},
    {"<$$TEST>", Field::Title},
    {"<$$TITLE>", Field::Title},
    {"<$$TIMELOGGED>", Field::TimeLogged},
    {"<$$TIMELOGGED-MDY>", Field::TimeLoggedMdy},
    {"<$$SOURCE>", Field::Source},
    {"<$$TIMENOW>", Field::TimeNow},
    {"<$$TIMENOW-MDY>", Field::TimeNowMdy},
    {"<$$OSNAME>", Field::OsName},
    {"<$$SERVICEPACK>", Field::ServicePack},
    {"<$$ALERTLEVEL>", Field::AlertLevel},
};

// Recognised only in monitor alerts (ErrorType 2).
constexpr Placemarker kMonitorSpecific[] = {
    {"<$$PRINTER>", Field::Info1},
    {"<$$DOCUMENT>", Field::Info2},
    {"<$$PRINTQUEUELENGTH>", Field::Info2},
    {"<$$PRINTSIZE>", Field::Info3},
    {"<$$PRINTPAGES>", Field::Info3},
    {"<$$SERVICE>", Field::Info1},
    {"<$$PROCESSNAME>", Field::Info1},
    {"<$$FILENAME>", Field::Info1},
    {"<$$CHANGEDFILES>", Field::Info2},
    {"<$$SQLCONNECTIONNAME>", Field::Info1},
    {"<$$SQLQUERYNAME>", Field::Info2},
    {"<$$SQLBLOCKEDPID>", Field::Info1},
    {"<$$SQLBLOCKINGPID>", Field::Info2},
    {"<$$SQLLONGRUNNINGQUERY>", Field::Info1},
    {"<$$SQLLONGRUNNINGTIME>", Field::Info2},
    {"<$$SQLLONGRUNNINGHOST>", Field::Info3},
    {"<$$EMAIL>", Field::Info1},
    {"<$$URL>", Field::Info1},
    {"<$$HTTPSVR>", Field::Info2},
    {"<$$FTPCHECK>", Field::Info1},
    {"<$$FTPSVR>", Field::Info2},
    {"<$$PORTNO>", Field::Info1},
    {"<$$PORTSVR>", Field::Info2},
};

constexpr std::string_view kMessagePrefix = "<$$ERROR,";

bool startsWithNoCase(std::string_view text, std::size_t position, std::string_view prefix) {
  return text.size() - position >= prefix.size() &&
         strncasecmp(text.data() + position, prefix.data(), prefix.size()) == 0;
}

const Placemarker *findIn(const Placemarker *begin, const Placemarker *end, std::string_view text,
                          std::size_t position) {
  for (const Placemarker *entry = begin; entry != end; ++entry) {
    if (startsWithNoCase(text, position, entry->token))
      return entry;
  }
  return nullptr;
}

std::string fieldValue(Field field, PlacemarkerRoutine routine, const PlacemarkerValues &values,
                       int dateFormat) {
  switch (field) {
  case Field::Server:
    return values.serverName;
  case Field::Info1:
    return values.info1;
  case Field::Info2:
    return values.info2;
  case Field::Info3:
    return values.info3;
  case Field::Message:
    return values.message;
  case Field::Title:
    return values.title;
  case Field::TimeLogged:
    // Alert Engine files always get the day first.
    if (routine == PlacemarkerRoutine::File && dateFormat == 2)
      return ExchangeDateOrder(values.loggedTime);
    return values.loggedTime;
  case Field::TimeLoggedMdy:
    return dateFormat == 2 ? values.loggedTime : ExchangeDateOrder(values.loggedTime);
  case Field::Source:
    return values.source;
  case Field::TimeNow:
    return values.timeNow;
  case Field::TimeNowMdy:
    return dateFormat == 2 ? values.timeNow : ExchangeDateOrder(values.timeNow);
  case Field::OsName:
    return values.osName;
  case Field::ServicePack:
    return values.servicePack;
  case Field::AlertLevel:
    return std::to_string(routine == PlacemarkerRoutine::String ? values.level + 1 : values.level);
  }
  return {};
}

// "<$$ERROR,n>" of the file routine: the first n bytes of the message. Sets
// *length to the token's length, or returns false when no ">" closes it.
bool messagePrefixToken(std::string_view text, std::size_t position,
                        const PlacemarkerValues &values, std::string *value, std::size_t *length) {
  if (!startsWithNoCase(text, position, kMessagePrefix))
    return false;
  std::size_t close = text.find('>', position + kMessagePrefix.size());
  if (close == std::string_view::npos)
    return false;
  std::size_t at = position + kMessagePrefix.size();
  while (at < close && text[at] == ' ')
    ++at;
  // Read as atoi would: optional sign, then digits; anything else stops it.
  bool negative = false;
  if (at < close && (text[at] == '-' || text[at] == '+'))
    negative = text[at++] == '-';
  long long limit = 0;
  while (at < close && text[at] >= '0' && text[at] <= '9') {
    if (limit < 1'000'000'000'000LL)
      limit = limit * 10 + (text[at] - '0');
    ++at;
  }
  if (negative)
    limit = -limit;
  if (limit < 1 || static_cast<unsigned long long>(limit) >= values.message.size())
    *value = values.message;
  else
    *value = values.message.substr(0, static_cast<std::size_t>(limit));
  *length = close - position + 1;
  return true;
}

} // namespace

std::string ExchangeDateOrder(const std::string &timeText) {
  std::size_t first = timeText.find('/');
  if (first == std::string::npos)
    return timeText;
  std::size_t second = timeText.find('/', first + 1);
  if (second == std::string::npos)
    return timeText;
  return timeText.substr(first + 1, second - first - 1) + "/" + timeText.substr(0, first) +
         timeText.substr(second);
}

std::string ExpandPlacemarkers(PlacemarkerRoutine routine, int errorType, std::string_view text,
                               const PlacemarkerValues &values, int dateFormat) {
  return ExpandPlacemarkers(routine, errorType, text, values, dateFormat,
                            [](std::string &out, std::string_view value) { out += value; });
}

std::string ExpandPlacemarkers(PlacemarkerRoutine routine, int errorType, std::string_view text,
                               const PlacemarkerValues &values, int dateFormat,
                               const PlacemarkerInserter &insert) {
  std::string out;
  out.reserve(text.size());
  std::size_t position = 0;
  while (position < text.size()) {
    // Every token begins with "<$$"; anything else is copied in one run.
    std::size_t next = text.find('<', position);
    if (next == std::string_view::npos)
      next = text.size();
    out.append(text.substr(position, next - position));
    position = next;
    if (position >= text.size())
      break;
    if (!startsWithNoCase(text, position, kOpen)) {
      out += text[position++];
      continue;
    }
    if (const Placemarker *hit = findIn(std::begin(kGeneric), std::end(kGeneric), text, position)) {
      insert(out, fieldValue(hit->field, routine, values, dateFormat));
      position += hit->token.size();
      continue;
    }
    std::string prefixValue;
    std::size_t prefixLength = 0;
    if (routine == PlacemarkerRoutine::File &&
        messagePrefixToken(text, position, values, &prefixValue, &prefixLength)) {
      insert(out, prefixValue);
      position += prefixLength;
      continue;
    }
    if (errorType == 2) {
      if (const Placemarker *hit =
              findIn(std::begin(kMonitorSpecific), std::end(kMonitorSpecific), text, position)) {
        insert(out, fieldValue(hit->field, routine, values, dateFormat));
        position += hit->token.size();
        continue;
      }
    }
    if (std::size_t length = PlacemarkerLength(text, position); length > 0) {
      out += kNotDefined;
      position += length;
      continue;
    }
    out += text[position++];
  }
  return out;
}

int PlacemarkerDateFormat() {
  static std::once_flag read;
  static int dateFormat = 1;
  std::call_once(read, [] {
    std::uint32_t value = 0;
    if (vlREG_ReadNumber(VLTR_ROOT_KEY, "DateFormat", &value) == VLREG_OK && value != 0)
      dateFormat = static_cast<int>(value);
  });
  return dateFormat;
}

} // namespace vltr

std::size_t PlacemarkerLength(std::string_view text, std::size_t position) {
  if (position >= text.size() || text.size() - position < 3 ||
      strncasecmp(text.data() + position, "<$$", 3) != 0)
    return 0;
  std::size_t close = text.find('>', position + 3);
  if (close == std::string_view::npos)
    return 0;
  return close - position + 1;
}

int SubstituteParamsForString_Dynamic(int errorType, const std::string &templateText,
                                      std::string *result, const vltr::PlacemarkerValues &values) {
  *result = vltr::ExpandPlacemarkers(vltr::PlacemarkerRoutine::String, errorType, templateText,
                                     values, vltr::PlacemarkerDateFormat());
  return 1;
}

int SubstituteParams(int errorType, const std::string &sourcePath, const std::string &targetPath,
                     const vltr::PlacemarkerValues &values) {
  static std::atomic<bool> sourceFailureLogged{false};
  std::string source = sourcePath;
  if (!source.empty() && source.front() == '"')
    source.erase(0, 1);
  if (!source.empty() && source.back() == '"')
    source.pop_back();

  std::FILE *in = std::fopen(source.c_str(), "r");
  if (in == nullptr) {
    int level = sourceFailureLogged.exchange(true) ? 5 : 1;
    vlLog_Write(level, 0, nullptr, "vlTRAlertEngine", "SubstituteParams", "sss",
                "Unable to open the Alert Engine script file ", source,
                ". Please check this file exists and is accessible to the Trelli Monitor");
    return 0;
  }
  std::FILE *out = std::fopen(targetPath.c_str(), "w");
  if (out == nullptr) {
    vlLog_Write(1, 0, nullptr, "vlTRAlertEngine", "SubstituteParams", "sss",
                "Unable to create the Alert Engine script file ", targetPath,
                ". The file cannot be craeted/opened");
    std::fclose(in);
    return 0;
  }
  int dateFormat = vltr::PlacemarkerDateFormat();
  // Pieces of at most 258 characters: a token split between two pieces is
  // not recognised, as the line reader has always behaved.
  char piece[259];
  while (std::fgets(piece, sizeof piece, in) != nullptr) {
    std::string expanded = vltr::ExpandPlacemarkers(vltr::PlacemarkerRoutine::File, errorType,
                                                    piece, values, dateFormat);
    std::fwrite(expanded.data(), 1, expanded.size(), out);
  }
  std::fclose(in);
  std::fclose(out);
  return 1;
}
