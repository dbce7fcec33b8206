// 1-up on 10.5.0 and later the page setup waits for the converter's
// "cg_md begin". Pages that never say it must not lose their
// "%%BeginPageSetup" nor the printer's page setup.
#include <gtest/gtest.h>

#include <string>

#include "FilterRunner.h"

namespace {

std::string TwoPages(const std::string &creator) {
  return "%!PS-Adobe-3.0\n%%Creator: " + creator +
         "\n%%Pages: 2\n%%EndComments\n"
         "%%Page: 1 1\n%%BeginPageSetup\n%%PageOrientation: Portrait\npdfStartPage\n"
         "%%EndPageSetup\n(p1) show\npdfEndPage\n"
         "%%Page: 2 2\n%%BeginPageSetup\npdfStartPage\n%%EndPageSetup\n(p2) show\npdfEndPage\n"
         "%%Trailer\n%%EOF\n";
}
}  // namespace

TEST(PageSetupRelease, SectionWithoutConverterSetupKeepsItsComment) {
  FilterJob job;
  job.usePpd();
  const std::string doc = TwoPages("pdftops 22.02.0");
  FilterResult r = job.print(doc);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Occurrences(r.out, "%%BeginPageSetup"), 2u) << r.out;
  // Each comment comes back inside its own page, just before its section ends.
  EXPECT_NE(r.out.find("%%PageOrientation: Portrait\npdfStartPage\n%%BeginPageSetup\n%%EndPageSetup\n"
                       "(p1) show"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("%%Page: 2 2\npdfStartPage\n%%BeginPageSetup\n%%EndPageSetup\n(p2) show"),
            std::string::npos)
      << r.out;
}

TEST(PageSetupRelease, TurnedPagesAreTurnedWithoutConverterSetup) {
  FilterJob job;
  job.usePpd();
  const std::string doc = TwoPages("cgpdftops CUPS filter");
  const std::string plain = job.print(doc).out;
  const std::string turned = job.print(doc, "Rotate180=true").out;
  // The page turn is written once per page, inside the page setup: the
  // origin moves to the sheet's far corner and the page turns about it.
  const std::string turn =
      "%%BeginPageSetup\ncurrentpagedevice /PageSize get aload pop translate 180 rotate\n"
      "%%EndPageSetup\n";
  EXPECT_EQ(Occurrences(turned, turn), 2u) << turned;
  EXPECT_EQ(Occurrences(plain, "rotate"), 0u);
  EXPECT_EQ(Occurrences(turned, "%%BeginPageSetup"), 2u);
}

// A document that works with "cg_md" keeps the printer's order wherever the
// page says "cg_md begin", also after its "%%EndPageSetup": the held line
// and the page turn follow the converter's dictionary.
TEST(PageSetupRelease, ConverterSetupAfterTheSectionKeepsThePrintersOrder) {
  FilterJob job;
  job.usePpd();
  const std::string doc =
      "%!PS-Adobe-3.0\n%%Creator: cgpdftops CUPS filter\n%%EndComments\n%%BeginProlog\n"
      "/cg_md 10 dict def\n%%EndProlog\n%%Page: 1 1\n%%BeginPageSetup\n/a 1 def\n"
      "%%EndPageSetup\ncg_md begin\n(p1) show\n%%Trailer\n%%EOF\n";
  const std::string out = job.print(doc, "Rotate180=true").out;
  EXPECT_NE(out.find("%%Page: 1 1\n/a 1 def\n%%EndPageSetup\n%%BeginPageSetup\ncg_md begin\n"
                     "currentpagedevice /PageSize get aload pop translate 180 rotate\n(p1) show\n"),
            std::string::npos)
      << out;
}

TEST(PageSetupRelease, ConverterSetupStillComesFirst) {
  FilterJob job;
  job.usePpd();
  const std::string doc =
      "%!PS-Adobe-3.0\n%%Page: 1 1\n%%BeginPageSetup\n/a 1 def\ncg_md begin\n%%EndPageSetup\n"
      "(p1) pop\n";
  EXPECT_EQ(job.print(doc).out,
            "%!PS-Adobe-3.0\n%%Page: 1 1\n/a 1 def\n%%BeginPageSetup\ncg_md begin\n"
            "%%EndPageSetup\n(p1) pop\n");
}
