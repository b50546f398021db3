// The alert notification thread: the one consumer of the pending list. It
// wakes on the alert event and delivers each pending record through every
// channel, oldest first.
#pragma once

#include <string>

namespace vltr::alerting {

// The thread's body after the start gate; returns when the stop event is
// set.
void RunAlertNotification();

// Delivers every pending record in list order; stops early when the stop
// event is set between two records. Returns the number delivered.
int DeliverPendingAlerts();

} // namespace vltr::alerting

// Delivers one record through every channel; returns 1.
int TriggerAlertFromFile(const std::string &recordPath);
