// Placemarker expansion in both routines: the names, their differences
// between the string and the file routine, the date exchange and the
// "[not defined]" tokens; and the file routine on real files.
#include "common/placemarkers.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

using vltr::PlacemarkerRoutine;
using vltr::PlacemarkerValues;
using namespace vltr::test;

namespace {

PlacemarkerValues sampleValues() {
  PlacemarkerValues values;
  values.message = "Printer jammed in tray 2";
  values.title = "Check Error Conditions";
  values.loggedTime = "09/12/2026 15:04:05";
  values.timeNow = "09/12/2026 15:05:00";
  values.info1 = "LaserJet-3";
  values.info2 = "report.pdf";
  values.info3 = "17";
  values.source = "LaserJet-3";
  values.osName = "Debian GNU/Linux 12 (bookworm)";
  values.servicePack = "6.1.0-13-amd64";
  values.serverName = "PRINTSRV";
  values.level = 3;
  return values;
}

constexpr auto S = PlacemarkerRoutine::String;
constexpr auto F = PlacemarkerRoutine::File;

struct Case {
  const char *name;
  PlacemarkerRoutine routine;
  int errorType;
  int dateFormat;
  std::string text;
  std::string expected;
};

TEST(Placemarkers, ExpansionTable) {
  const std::vector<Case> cases = {
      {"server and title", S, 2, 1, "* Error detected on Server <$$SERVER> (<$$TEST>)",
       "* Error detected on Server PRINTSRV (Check Error Conditions)"},
      {"lower case", S, 2, 1, "<$$server>/<$$Title>/<$$printer>",
       "PRINTSRV/Check Error Conditions/LaserJet-3"},
      {"info names", F, 2, 1, "<$$INFO>|<$$INFO1>|<$$INFO2>|<$$INFO3>",
       "LaserJet-3|LaserJet-3|report.pdf|17"},
      {"info names string", S, 15, 1, "<$$INFO2>|<$$INFO3>", "report.pdf|17"},
      {"side by side", S, 2, 1, "<$$SERVER><$$PRINTER>", "PRINTSRVLaserJet-3"},
      {"all generic", S, 2, 1, "<$$ERROR>;<$$SOURCE>;<$$TIMENOW>;<$$OSNAME>;<$$SERVICEPACK>",
       "Printer jammed in tray 2;LaserJet-3;09/12/2026 15:05:00;Debian GNU/Linux 12 "
       "(bookworm);6.1.0-13-amd64"},
      {"monitor names", F, 2, 1,
       "<$$DOCUMENT> <$$PRINTQUEUELENGTH> <$$PRINTSIZE> <$$PRINTPAGES> <$$SQLLONGRUNNINGHOST> "
       "<$$PORTSVR> <$$URL>",
       "report.pdf report.pdf 17 17 17 report.pdf LaserJet-3"},
      {"printer in a test alert", S, 15, 1, "<$$PRINTER>", "[not defined]"},
      {"printer in a test alert (file)", F, 15, 1, "<$$PRINTER>", "[not defined]"},
      {"unknown name", S, 2, 1, "a<$$NOSUCH>b", "a[not defined]b"},
      {"unknown consumes up to first >", F, 2, 1, "<$$X <$$SERVER> y", "[not defined] y"},
      {"unclosed at end", S, 2, 1, "text <$$SERVER", "text <$$SERVER"},
      {"lone opener", F, 2, 1, "<$$", "<$$"},
      {"less-than alone", S, 2, 1, "a < b <$ c", "a < b <$ c"},
      {"level string", S, 2, 1, "<$$ALERTLEVEL>", "4"},
      {"level file", F, 2, 1, "<$$ALERTLEVEL>", "3"},
      {"prefix 10 file", F, 2, 1, "<$$ERROR,10>", "Printer ja"},
      {"prefix 10 string", S, 2, 1, "<$$ERROR,10>", "[not defined]"},
      {"prefix with blanks", F, 2, 1, "<$$ERROR,  7>", "Printer"},
      {"prefix 0 whole", F, 2, 1, "<$$error,0>", "Printer jammed in tray 2"},
      {"prefix 500 whole", F, 2, 1, "<$$ERROR,500>", "Printer jammed in tray 2"},
      {"prefix negative whole", F, 2, 1, "<$$ERROR,-3>", "Printer jammed in tray 2"},
      {"prefix exact length whole", F, 2, 1, "<$$ERROR,24>", "Printer jammed in tray 2"},
      {"prefix unclosed", F, 2, 1, "<$$ERROR,10", "<$$ERROR,10"},
      {"logged string df1", S, 2, 1, "<$$TIMELOGGED>", "09/12/2026 15:04:05"},
      {"logged string df2 as stored", S, 2, 2, "<$$TIMELOGGED>", "09/12/2026 15:04:05"},
      {"logged file df2 exchanged", F, 2, 2, "<$$TIMELOGGED>", "12/09/2026 15:04:05"},
      {"logged file df1", F, 2, 1, "<$$TIMELOGGED>", "09/12/2026 15:04:05"},
      {"mdy df1", S, 2, 1, "<$$TIMELOGGED-MDY>", "12/09/2026 15:04:05"},
      {"mdy df2", F, 2, 2, "<$$TIMELOGGED-MDY>", "09/12/2026 15:04:05"},
      {"now mdy df1", F, 2, 1, "<$$TIMENOW-MDY>", "12/09/2026 15:05:00"},
      {"now mdy df2", S, 2, 2, "<$$TIMENOW-MDY>", "09/12/2026 15:05:00"},
      {"value not rescanned", S, 2, 1, "<$$ERROR>", "Printer jammed in tray 2"},
  };
  PlacemarkerValues values = sampleValues();
  for (const Case &c : cases) {
    EXPECT_EQ(vltr::ExpandPlacemarkers(c.routine, c.errorType, c.text, values, c.dateFormat),
              c.expected)
        << c.name;
  }
}

TEST(Placemarkers, ValuesAreNotScannedAgain) {
  PlacemarkerValues values = sampleValues();
  values.message = "see <$$SERVER>";
  EXPECT_EQ(vltr::ExpandPlacemarkers(S, 2, "[<$$ERROR>]", values, 1), "[see <$$SERVER>]");
}

TEST(Placemarkers, LongTemplateWithoutTokensComesBackUnchanged) {
  std::string text(2500, 'x');
  text[1000] = '<';
  text[1999] = '>';
  std::string result;
  ASSERT_EQ(SubstituteParamsForString_Dynamic(2, text, &result, sampleValues()), 1);
  EXPECT_EQ(result, text);
}

TEST(Placemarkers, DateExchange) {
  EXPECT_EQ(vltr::ExchangeDateOrder("09/12/2026 15:04:05"), "12/09/2026 15:04:05");
  EXPECT_EQ(vltr::ExchangeDateOrder("N/A"), "N/A");
  EXPECT_EQ(vltr::ExchangeDateOrder("no slash"), "no slash");
  EXPECT_EQ(vltr::ExchangeDateOrder("a//b"), "/a/b");
}

TEST(Placemarkers, LengthOfUnknownTokens) {
  EXPECT_EQ(PlacemarkerLength("<$$ABC>", 0), 7u);
  EXPECT_EQ(PlacemarkerLength("x<$$a>>", 1), 5u);
  EXPECT_EQ(PlacemarkerLength("<$$ABC", 0), 0u);
  EXPECT_EQ(PlacemarkerLength("<$", 0), 0u);
  EXPECT_EQ(PlacemarkerLength("<$$", 5), 0u);
}

TEST(PlacemarkerFiles, CopiesLineByLineKeepingLineEnds) {
  TempDir dir;
  writeFile(dir.file("in.txt"),
            "TR-Server: <$$SERVER>\r\nprinter=<$$PRINTER>\n\ntext=<$$ERROR,7>\nlast <$$INFO3>");
  ASSERT_EQ(SubstituteParams(2, std::string("\"").append(dir.file("in.txt")).append("\""),
                             dir.file("out.txt"), sampleValues()),
            1);
  EXPECT_EQ(readFile(dir.file("out.txt")),
            "TR-Server: PRINTSRV\r\nprinter=LaserJet-3\n\ntext=Printer\nlast 17");
}

TEST(PlacemarkerFiles, TokenSplitByTheLineReaderIsNotRecognised) {
  TempDir dir;
  // The reader takes 258 characters at a time: a token across that border
  // falls in two pieces, and each piece is expanded on its own.
  std::string line = std::string(255, 'a') + "<$$SERVER>\n";
  writeFile(dir.file("in.txt"), line + "<$$SERVER>\n");
  ASSERT_EQ(SubstituteParams(2, dir.file("in.txt"), dir.file("out.txt"), sampleValues()), 1);
  EXPECT_EQ(readFile(dir.file("out.txt")), line + "PRINTSRV\n");
}

TEST(PlacemarkerFiles, MissingSourceOrTargetFails) {
  TempDir dir;
  EXPECT_EQ(SubstituteParams(2, dir.file("none.txt"), dir.file("out.txt"), sampleValues()), 0);
  EXPECT_FALSE(fileExists(dir.file("out.txt")));
  writeFile(dir.file("in.txt"), "x");
  EXPECT_EQ(
      SubstituteParams(2, dir.file("in.txt"), dir.file("no/such/dir/out.txt"), sampleValues()), 0);
}

} // namespace
