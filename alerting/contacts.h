// The alerting contacts under the Contacts key and the rule that picks them
// for an alert: the alert's level mask against the contact's, the weekday
// mask and the daily time window. Shared by e-mail and network messages
// (and by the Alert Engine files, whose windows use the same values).
#pragma once

#include <cstddef>
#include <ctime>
#include <string>

namespace vltr::alerting {

// Software\...\CurrentVersion\Contacts
std::string ContactsKeyPath();

// Channel kinds of BuildRecipientList.
inline constexpr int kChannelNetSend = 1;
inline constexpr int kChannelEmail = 2;

// The recipient list buffer of the delivery routines.
inline constexpr std::size_t kRecipientListSize = 7000;

// The window rule on given values at a given moment: open when any value is
// empty; otherwise today's window under today's mask character, or the
// window that began yesterday under yesterday's.
bool ContactWindowOpenAt(const std::string &mask, const std::string &startTime,
                         const std::string &endTime, std::time_t now);

} // namespace vltr::alerting

// 1 when entry n of prefix ("Email", "NetSend", ...) under keyPath may be
// alerted at now; the first form takes the current time.
int IsContactWindowOpen(const std::string &keyPath, const std::string &prefix, int n);
int IsContactWindowOpenAt(const std::string &keyPath, const std::string &prefix, int n,
                          std::time_t now);

// Fills *list with the contacts of the channel kind that accept an alert of
// levelMask now ("," separated; e-mail contacts with their own server as
// address~server~sender~port) and returns the number of items added.
int BuildRecipientList(int levelMask, int channelKind, std::string *list, std::size_t bufferSize);

// Copies the next item of list from position (characters other than ","
// and CR, at most itemSize - 1 of them) into *item, skipping separators
// before it; returns the position after the separator that ends it.
std::size_t NextListItem(const std::string &list, std::size_t position, std::string *item,
                         std::size_t itemSize);
