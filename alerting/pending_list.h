// The pending list "Unsent.prq": full paths of the alert records that wait
// for delivery, one per line, oldest first, each at most once.
//
// Every change is durable before it returns: an append is fsynced, and the
// removal of an entry writes the rest to "Unsent.tmp.prq" beside the list,
// fsyncs it and renames it over the list, so a crash leaves either the old
// or the new list, never an empty or half-written one.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vltr::alerting {

// <data directory>/Unsent.prq and the temporary file beside it.
std::string PendingListPath();
std::string PendingListTemporaryPath();

// The notification thread's take: the oldest entry, already removed from
// the list. An entry that could not be removed is handed out once; until it
// can be removed, later takes report nothing to do rather than repeat it.
std::optional<std::string> TakeNextPendingRecord();

// An entry handed to delivery, with the text its record held just before
// (none: the record could not be read).
struct PendingDelivery {
  std::string path;
  std::optional<std::string> recordText;
};

// For a consumer that removes entries only after delivering them, several
// at a time: the oldest entries, at most limit, left in place, each with
// its record's text read now. Entries of delivered are passed over unless
// their record changed since.
std::vector<PendingDelivery> PeekPendingRecords(std::size_t limit,
                                                const std::vector<PendingDelivery> &delivered = {});

// Removes the delivered entries in one rewrite, except an entry whose record
// no longer holds the text it was delivered with: its number came round
// again, and the record now holds a new alert that is still to be delivered.
// False, with the list unchanged, when the list cannot be rewritten.
bool RemoveDeliveredRecords(const std::vector<PendingDelivery> &delivered);

// The entries in list order (for pages and checks).
std::vector<std::string> ReadPendingRecords();

// A list line as an entry: cut at its first control character.
std::string PendingEntryFromLine(const std::string &line);

} // namespace vltr::alerting

// True when the list holds the record path. Creates a missing list.
bool CheckFileForFile(const std::string &listPath, const std::string &recordPath);
// Appends the record path as the list's last line (creating the list); 1 on success.
int AddToUnsentMsgFile(const std::string &recordPath, const std::string &listPath);
// Replaces the list by the remaining text through the temporary file; 1 on
// success, 0 (list unchanged) when the temporary file cannot be written.
int ReplaceWithRemainingFile(const std::string &remaining, const std::string &listPath,
                             const std::string &temporaryPath);
