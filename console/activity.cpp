// The activity reporter's fast path. Consoles that ask for activity lines
// are served by the console table; until one registers there is nobody to tell.
#include "console/activity.h"

namespace vltr::console {

std::atomic<int> &activityListeners() {
  static std::atomic<int> listeners{0};
  return listeners;
}

} // namespace vltr::console

void ReportConsoleActivity(int activityType, const std::string &text) {
  if (vltr::console::activityListeners().load(std::memory_order_relaxed) == 0)
    return;
  // Delivery to registered consoles arrives with the console table.
  (void)activityType;
  (void)text;
}
