// What the two back ends share inside this folder.
#pragma once

#include "platform/spooler/spooler.h"

namespace vltr::spooler {

inline constexpr const char *kLogModule = "vlTRSpooler";

// host "" means the server libcups would use (CUPS_SERVER, client.conf,
// the local socket); port 0 means the default IPP port.
std::unique_ptr<Spooler> makeCupsSpooler(const std::string &host, int port);
std::unique_ptr<Spooler> makeSimSpooler(const std::string &directory);

// Printer changes need administer rights; job changes need use rights,
// which the default access (0) grants.
inline bool mayAdminister(std::uint32_t access) {
  return (access & PRINTER_ACCESS_ADMINISTER) != 0;
}
inline bool mayUse(std::uint32_t access) {
  return access == 0 || (access & (PRINTER_ACCESS_USE | PRINTER_ACCESS_ADMINISTER)) != 0;
}

} // namespace vltr::spooler
