// The status section writer. Rows share one pattern: a 30-pixel spacer cell,
// a 333-pixel middle cell and a 408-pixel value cell.
#include "monitor/status_section.h"

#include "console/activity.h"
#include "monitor/monitor_loop.h"
#include "monitor/monitor_state.h"
#include "service/host/service_host.h"

#include <cstdio>
#include <mutex>
#include <strings.h>

namespace vltr::monitor {

namespace {

const char *kSpacer = "<td width=\"30\">&nbsp;</td>\n";

void row(std::ostream &out, const std::string &middle, const std::string &valueCell) {
  out << "<tr>\n"
      << kSpacer << "<td valign=\"Top\" width=\"333\"><font face=\"Arial\" size=\"2\">" << middle
      << "</font></td>\n"
      << valueCell << "</tr>\n";
}

std::string plainCell(const std::string &text) {
  return "<td valign=\"Top\" width=\"408\"><font face=\"Arial\" size=\"2\">" + text +
         "</font></td>\n";
}

std::string redCell(const std::string &text) {
  return "<td valign=\"Top\" width=\"408\"><font face=\"Arial\" size=\"2\" color=\"#D3302C\">" +
         text + "</font></td>\n";
}

void emptyRow(std::ostream &out) {
  row(out, "&nbsp;", plainCell("&nbsp;"));
}

// A row whose text spans the middle and the last column.
void wideRow(std::ostream &out, const std::string &text) {
  out << "<tr>\n"
      << kSpacer
      << "<td colspan=\"2\" valign=\"Top\" width=\"741\"><font face=\"Arial\" size=\"2\">" << text
      << "</font></td>\n</tr>\n";
}

const char *labelOf(const std::string &type) {
  if (type == "Check Error Conditions")
    return "--- Current Printer Status";
  if (type == "Check Print Queue Length")
    return "--- Current Queue Length";
  if (type == "Check Document Size (Kb)")
    return "--- Size of largest Job in Queue";
  if (type == "Check No of Pages in Print Document")
    return "--- Length of longest Job in Queue";
  if (type == "Check Printer Paused")
    return "--- Is Printer Paused ?";
  return "--- Is Printer Off-line ?";
}

std::string valueCellOf(const CheckRecord &check) {
  const std::string &type = check.typeName;
  if (check.currentValue != -1) {
    std::string value = std::to_string(check.currentValue);
    if (type == "Check Document Size (Kb)")
      value += " Kb";
    else if (type == "Check No of Pages in Print Document")
      value += " page(s)";
    return plainCell(value);
  }
  const std::string &text = check.statusText;
  if (strncasecmp(text.c_str(), "OK", 2) == 0 || text == "No")
    return plainCell(text);
  if (text == "N/A")
    return plainCell("[Not Yet Checked or Disabled]");
  if (!text.empty())
    return redCell(text);
  if (type == "Check Printer Paused" || type == "Check Printer Offline")
    return plainCell("No");
  return plainCell("[Running or N/A]");
}

void writeHead(std::ostream &out, const std::string &heading, const std::string &lastChecked) {
  out << "<div align=\"center\">\n"
      << "<center>\n"
      << "<table border=\"0\" cellpadding=\"0\" cellspacing=\"0\" width=\"777\">\n"
      << "<tr>\n"
      << "<td colspan=\"3\" width=\"775\">\n"
      << "<hr size=\"1\">\n"
      << "</td>\n"
      << "</tr>\n"
      << "<tr>\n";
  out << "<td colspan=\"2\"><b><i><font size=\"3\" face=\"Arial\"><img border=\"0\" "
         "src=\"images/Printer.bmp\" align=\"absmiddle\" width=\"32\" "
         "height=\"32\">&nbsp;</font></i><font size=\"3\" face=\"Arial\">"
      << heading << "<br>&nbsp;</font></b></td>\n";
  if (!lastChecked.empty())
    out << "<TD align=right height=\"21\"><FONT face=Arial size=1><I>Last Checked: " << lastChecked
        << "</I></FONT></B></TD></TR>\n";
  out << "</tr>\n"
      << "<tr>\n"
      << "<TD colSpan=3 width=775><b><font face=\"Arial\" size=\"3\">&nbsp;</font></b></TD>\n"
      << "</tr>\n";
}

void writeTail(std::ostream &out) {
  emptyRow(out);
  out << "</table>\n"
      << "</center>\n"
      << "</div>\n";
}

void writePrinterRows(std::ostream &out, const PrinterList &printers) {
  if (printers.empty()) {
    wideRow(out, "No monitored Printers are currently enabled ...");
    return;
  }
  for (const PrinterRecord &printer : printers) {
    row(out, printer.name, plainCell("&nbsp;"));
    for (const CheckRecord &check : printer.checks)
      row(out, labelOf(check.typeName), valueCellOf(check));
    emptyRow(out);
  }
}

void writeLinkBlock(std::ostream &out) {
  writeHead(out, "Printer & Print Queue Activity ...", "");
  struct Link {
    const char *title;
    const char *page;
  };
  const Link links[] = {
      {"View Local Printer Summary :&nbsp;", "PrintQPrinterSummary.vlp"},
      {"View Local Printer Status :&nbsp;", "PrintQPrinters.vlp"},
      {"View Local Printer Queue Status :&nbsp;", "PrintQPrintQ.vlp"},
  };
  for (const Link &link : links)
    out << "<tr>\n<td width=\"40\">&nbsp;</td>\n<td align=\"right\" width=\"300\"><b><font "
           "face=\"Arial\" size=\"2\">"
        << link.title
        << "</font></b></td>\n<td width=\"431\"><font face=\"Arial\" size=\"2\"><a href=\""
        << link.page << "\">Click Here</a> for more information</font></td>\n</tr>\n";
  writeTail(out);
}

} // namespace

void SpecificMonitor(std::ostream &out) {
  ReportConsoleActivity(kMonitorActivity, "Generating web data");
  MonitorState &state = monitorState();
  writeHead(out, "Local Printer Status ...", state.lastPass());
  if (state.printerCount == 0 || state.interval == 0) {
    wideRow(out, "Not being monitored ...");
  } else {
    row(out, "<b>Printer Name/Check</b>", plainCell("<b>Most Recent Status/Value</b>"));
    emptyRow(out);
    std::unique_lock lock(service::host().locks.statusSection, std::try_to_lock);
    if (!lock.owns_lock())
      wideRow(out, "Printer monitoring in progress ...");
    else
      writePrinterRows(out, state.printers);
  }
  writeTail(out);
  writeLinkBlock(out);
}

} // namespace vltr::monitor
