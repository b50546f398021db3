// What the delivery channels read from an alert record: the placemarker
// values and the facts of the running system they show.
#pragma once

#include "common/placemarkers.h"

#include <string>

namespace vltr::alerting {

// The computer name the alerts show (the service's, else the host name).
std::string AlertComputerName();

// The service pack text, or "[None]" when the system gives none.
std::string AlertServicePack();

// The record's Message, read as through a buffer of MessageSize + 5 bytes.
std::string ReadRecordMessage(const std::string &recordPath);

// A string key of the record (default "N/A") and a numeric one (default 0).
std::string ReadRecordString(const std::string &recordPath, const std::string &key);
int ReadRecordNumber(const std::string &recordPath, const std::string &key);

} // namespace vltr::alerting

// Reads the record's values, takes the time now and the system facts.
void FillPlacemarkerValues(const std::string &recordPath, vltr::PlacemarkerValues *values);
