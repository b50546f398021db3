// Restarting the machine. $VLTR_REBOOT_COMMAND, when set, is run instead of
// the real restart, so tests and cautious installations can see a restart
// without one happening.
#pragma once

namespace vltr {

// Asks for a restart; 0 when the request was accepted, else an errno or the
// failing command's exit status.
int RequestSystemRestart();

} // namespace vltr
