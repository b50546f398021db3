// Placemarker substitution: the "<$$NAME>" tokens of every user-editable
// alert text (e-mail templates, network messages, alert data file lines,
// database statements and Alert Engine files) replaced by the values of the
// alert being delivered.
//
// Two routines expand them and differ in a few names: the string routine
// (templates) and the file routine (Alert Engine files, copied line by line).
// Both share one scanner; the routine is passed to it.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace vltr {

// The values of one alert, filled by the caller before each expansion.
struct PlacemarkerValues {
  std::string message;
  std::string title;
  std::string loggedTime; // the record's Time, as stored
  std::string timeNow;    // the alert time at the fill, as stored
  std::string info1;
  std::string info2;
  std::string info3;
  std::string source;
  std::string osName;
  std::string servicePack;
  std::string serverName; // the computer name
  int level = 0;          // level number (1..20), 0 when the mask is not one level
};

enum class PlacemarkerRoutine {
  String, // SubstituteParamsForString_Dynamic
  File,   // SubstituteParams
};

// The expansion of text for an alert of errorType under the given DateFormat.
std::string ExpandPlacemarkers(PlacemarkerRoutine routine, int errorType, std::string_view text,
                               const PlacemarkerValues &values, int dateFormat);

// Appends one placemarker's value to the expansion built so far.
using PlacemarkerInserter = std::function<void(std::string &out, std::string_view value)>;

// The same expansion with every value handed to insert instead of appended
// as it is, for callers that must encode values for where they land.
std::string ExpandPlacemarkers(PlacemarkerRoutine routine, int errorType, std::string_view text,
                               const PlacemarkerValues &values, int dateFormat,
                               const PlacemarkerInserter &insert);

// Swaps the first two "/"-separated fields of a time text (day and month);
// a text with fewer than two "/" comes back unchanged.
std::string ExchangeDateOrder(const std::string &timeText);

// DateFormat for placemarkers: read once per process (1 when missing or 0).
int PlacemarkerDateFormat();

} // namespace vltr

// Length of a token outside the tables at text[position]: "<$$" (any case)
// up to and including the first ">", or 0.
std::size_t PlacemarkerLength(std::string_view text, std::size_t position);

// Expands a template into *result; 1 on success.
int SubstituteParamsForString_Dynamic(int errorType, const std::string &templateText,
                                      std::string *result, const vltr::PlacemarkerValues &values);

// Copies the source file (its path may be enclosed in double quotes) to the
// target file with every line expanded; 1 on success, 0 when either file
// cannot be opened.
int SubstituteParams(int errorType, const std::string &sourcePath, const std::string &targetPath,
                     const vltr::PlacemarkerValues &values);
