// Contact selection. The registry is read at each use, so a contact edited
// by the configuration utility counts from the next alert on.
#include "alerting/contacts.h"

#include "alerting/alert_records.h"
#include "outside/vlTRLog.h"
#include "outside/vlTRREG.h"

#include <cstdint>
#include <cstdlib>

namespace vltr::alerting {

namespace {

struct HoursMinutes {
  int hours = 0;
  int minutes = 0;
};

// "hh:mm", each part read as a decimal number; a missing part counts as 0.
HoursMinutes parseTime(const std::string &text) {
  HoursMinutes time;
  time.hours = std::atoi(text.c_str());
  std::size_t colon = text.find(':');
  if (colon != std::string::npos)
    time.minutes = std::atoi(text.c_str() + colon + 1);
  return time;
}

std::time_t todayAt(const std::tm &now, HoursMinutes time, int addDays) {
  std::tm at = now;
  at.tm_hour = time.hours;
  at.tm_min = time.minutes;
  at.tm_mday += addDays;
  at.tm_isdst = -1;
  return std::mktime(&at);
}

bool maskOpenOn(const std::string &mask, int weekday) {
  return weekday >= 0 && static_cast<std::size_t>(weekday) < mask.size() && mask[weekday] == '1';
}

} // namespace

std::string ContactsKeyPath() {
  return std::string(VLTR_ROOT_KEY) + "\\Contacts";
}

bool ContactWindowOpenAt(const std::string &mask, const std::string &startTime,
                         const std::string &endTime, std::time_t now) {
  if (mask.empty() || startTime.empty() || endTime.empty())
    return true;
  HoursMinutes startHm = parseTime(startTime);
  HoursMinutes endHm = parseTime(endTime);
  std::tm local{};
  localtime_r(&now, &local);
  // Whole minutes with both ends included: both ends carry now's seconds.
  std::time_t start = todayAt(local, startHm, 0);
  std::time_t end = todayAt(local, endHm, endHm.hours < startHm.hours ? 1 : 0);
  if (maskOpenOn(mask, local.tm_wday) && start <= now && now <= end)
    return true;
  // A window that began yesterday evening stays open after midnight under
  // yesterday's weekday.
  start -= 86400;
  end -= 86400;
  std::tm startDay{};
  localtime_r(&start, &startDay);
  return maskOpenOn(mask, startDay.tm_wday) && start <= now && now <= end;
}

} // namespace vltr::alerting

using namespace vltr::alerting;

int IsContactWindowOpenAt(const std::string &keyPath, const std::string &prefix, int n,
                          std::time_t now) {
  std::string number = std::to_string(n);
  std::string mask, startTime, endTime;
  if (vlREG_ReadString(keyPath, prefix + "Mask" + number, &mask, 16) != 0 ||
      vlREG_ReadString(keyPath, prefix + "StartTime" + number, &startTime, 16) != 0 ||
      vlREG_ReadString(keyPath, prefix + "EndTime" + number, &endTime, 16) != 0)
    return 1;
  return ContactWindowOpenAt(mask, startTime, endTime, now) ? 1 : 0;
}

int IsContactWindowOpen(const std::string &keyPath, const std::string &prefix, int n) {
  return IsContactWindowOpenAt(keyPath, prefix, n, std::time(nullptr));
}

int BuildRecipientList(int levelMask, int channelKind, std::string *list, std::size_t bufferSize) {
  const std::string key = ContactsKeyPath();
  const bool email = channelKind == kChannelEmail;
  const std::string addressName = email ? "EMail" : "NetSend";
  const std::string windowPrefix = email ? "Email" : "NetSend";
  list->clear();
  int added = 0;
  auto tooMany = [](const std::string &address) {
    vlLog_Write(2, 0, nullptr, kAlertModule, "BuildRecipientList", "sss", "Unable to notify ",
                address, " - too many users specified");
  };
  for (int n = 1;; ++n) {
    std::string number = std::to_string(n);
    std::string address;
    if (vlREG_ReadString(key, addressName + number, &address, 260) != 0)
      return added;
    std::uint32_t contactLevel = 0;
    if (vlREG_ReadNumber(key, addressName + "Level" + number, &contactLevel) != 0)
      contactLevel = 0;
    if (levelMask != kAllLevelsMask && (static_cast<std::uint32_t>(levelMask) & contactLevel) == 0)
      continue;
    if (IsContactWindowOpen(key, windowPrefix, n) != 1)
      continue;
    if (email) {
      std::string server, sender;
      vlREG_ReadString(key, "EMailServer" + number, &server, 260);
      vlREG_ReadString(key, "EMailSender" + number, &sender, 260);
      if (sender.empty())
        sender = "<NONE>";
      std::uint32_t port = 25;
      if (vlREG_ReadNumber(key, "EMailPortNo" + number, &port) != 0)
        port = 25;
      if (!server.empty()) {
        if (list->size() + address.size() + server.size() + sender.size() + 20 < bufferSize) {
          if (!list->empty())
            *list += ",";
          *list += address + "~" + server + "~" + sender + "~" + std::to_string(port);
          ++added;
        } else {
          tooMany(address);
        }
        continue;
      }
    }
    if (list->size() + address.size() + 3 < bufferSize) {
      if (!list->empty())
        *list += ",";
      *list += address;
      ++added;
    } else {
      tooMany(address);
    }
  }
}

std::size_t NextListItem(const std::string &list, std::size_t position, std::string *item,
                         std::size_t itemSize) {
  auto separator = [](char c) { return c == ',' || c == '\r'; };
  item->clear();
  while (position < list.size() && separator(list[position]))
    ++position;
  while (position < list.size() && !separator(list[position])) {
    if (item->size() + 1 < itemSize)
      *item += list[position];
    ++position;
  }
  if (position < list.size())
    ++position;
  return position;
}
