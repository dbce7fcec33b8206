// The mapping of IPP job attributes to the filter's option words, and the
// checks of the attributes PAPPL leaves to the driver.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

#include "JobOptions.h"

using namespace vtpapp;

namespace {

struct Ipp {
  ipp_t *p = ippNew();
  ~Ipp() { ippDelete(p); }
  Ipp &kw(const char *name, const char *v) {
    ippAddString(p, IPP_TAG_JOB, IPP_TAG_KEYWORD, name, nullptr, v);
    return *this;
  }
  Ipp &col(const char *name, ipp_t *c) {
    ippAddCollection(p, IPP_TAG_JOB, name, c);
    ippDelete(c);
    return *this;
  }
};

ipp_t *MediaCol(const char *source, const char *type, const char *size = nullptr) {
  ipp_t *mc = ippNew();
  if (size) ippAddString(mc, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "media-size-name", nullptr, size);
  if (source) ippAddString(mc, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "media-source", nullptr, source);
  if (type) ippAddString(mc, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "media-type", nullptr, type);
  return mc;
}

ipp_t *Cover(const char *type, const char *source) {
  ipp_t *c = ippNew();
  ippAddString(c, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "cover-type", nullptr, type);
  if (source) {
    ipp_t *mc = MediaCol(source, nullptr);
    ippAddCollection(c, IPP_TAG_ZERO, "media-col", mc);
    ippDelete(mc);
  }
  return c;
}

std::map<std::string, std::string> AsMap(const JobMapping &m) {
  std::map<std::string, std::string> r;
  for (const auto &[k, v] : m.options) {
    EXPECT_FALSE(r.count(k)) << "option given twice: " << k;
    r[k] = v;
  }
  return r;
}

}  // namespace

// Every standard attribute reaches the filter as the PPD's keyword.
TEST(JobOptions, StandardAttributesBecomeFilterOptions) {
  struct Case {
    const char *what;
    std::function<void(Ipp &)> build;
    std::map<std::string, std::string> expected;
  };
  const Case cases[] = {
      {"two-sided short edge",
       [](Ipp &j) { j.kw("sides", "two-sided-short-edge"); },
       {{"VTDuplex", "Duplex"}, {"Binding", "ShortEdge"}}},
      {"booklet wins over sides",
       [](Ipp &j) { j.kw("sides", "one-sided").kw("imposition-template", "booklet"); },
       {{"VTDuplex", "BookletL"}, {"Binding", "LongEdge"}}},
      {"media-col tray, type and size",
       [](Ipp &j) {
         j.col("media-col", MediaCol("tray-3", "stationery-recycled", "iso_a4_210x297mm"));
       },
       {{"VTInputSlot", "Tray3"}, {"MediaType", "Recycled"}, {"PageSize", "A4"}}},
      {"media keyword",
       [](Ipp &j) { j.kw("media", "na_legal_8.5x14in"); },
       {{"PageSize", "Legal"}}},
      {"covers from their trays",
       [](Ipp &j) {
         j.col("cover-front", Cover("print-front", "tray-4"))
             .col("cover-back", Cover("print-none", "manual"));
       },
       {{"FrontCoverPage", "True"},
        {"FrontCoverOption", "PrintedSingle"},
        {"FrontCoverTray", "Tray4"},
        {"BackCoverPage", "True"},
        {"BackCoverOption", "BlankPrinter"},
        {"BackCoverTray", "Manual"}}},
      {"no-cover is no cover",
       [](Ipp &j) { j.col("cover-front", Cover("no-cover", "tray-4")); },
       {{"FrontCoverPage", ""}}},
      {"insert sheet",
       [](Ipp &j) { j.col("insert-sheet", Cover("print-none", "tray-5")); },
       {{"OHPInterleave", "True"}, {"OHPInterOption", "BlankPrinter"}, {"OHPOpTray", "Tray5"}}},
      {"poster with cut lines and stamp",
       [](Ipp &j) {
         j.kw("vantora-poster", "2x2");
         ippAddBoolean(j.p, IPP_TAG_JOB, "vantora-cut-lines", 1);
         ippAddString(j.p, IPP_TAG_JOB, IPP_TAG_TEXT, "vantora-stamp-text", nullptr, "DRAFT COPY");
       },
       {{"Combination", "2x2"},
        {"VTBorderLine", "True"},
        {"JimonTextSet", "True"},
        {"JimonCharacter", "DRAFT COPY"}}},
      {"landscape",
       [](Ipp &j) { ippAddInteger(j.p, IPP_TAG_JOB, IPP_TAG_ENUM, "orientation-requested", 4); },
       {{"orientation-requested", "4"}}},
      {"portrait sends nothing",
       [](Ipp &j) { ippAddInteger(j.p, IPP_TAG_JOB, IPP_TAG_ENUM, "orientation-requested", 3); },
       {{"orientation-requested", ""}}},
      {"secure print",
       [](Ipp &j) { ippAddOctetString(j.p, IPP_TAG_OPERATION, "job-password", "4711", 4); },
       {{"OutputMethod", "Secure"}, {"VTSecurePIN", "34373131"}}},
  };
  for (const auto &c : cases) {
    Ipp job;
    c.build(job);
    JobMapping m = MapJobAttributes(job.p, nullptr, "alice", "Quarterly");
    EXPECT_EQ(m.error, "") << c.what;
    auto got = AsMap(m);
    EXPECT_EQ(got["jp.vantora.printers.loginName"], "alice") << c.what;
    EXPECT_EQ(got["com.apple.print.JobInfo.PMJobName"], "Quarterly") << c.what;
    for (const auto &[k, v] : c.expected) EXPECT_EQ(got[k], v) << c.what << ": " << k;
  }
}

// What the job leaves out comes from the printer's defaults; what it says wins.
TEST(JobOptions, DefaultsFillWhatTheJobLeavesOut) {
  Ipp defaults;
  ipp_t *mc = MediaCol("tray-2", "cardstock", "iso_a5_148x210mm");
  ippAddCollection(defaults.p, IPP_TAG_PRINTER, "media-col-default", mc);
  ippDelete(mc);
  defaults.kw("sides", "two-sided-long-edge")
      .kw("vantora-poster", "3x3")
      .kw("print-scaling", "none");
  Ipp job;
  job.kw("vantora-poster", "none");
  JobMapping m = MapJobAttributes(job.p, defaults.p, nullptr, nullptr);
  auto got = AsMap(m);
  EXPECT_EQ(got["VTInputSlot"], "Tray2");
  EXPECT_EQ(got["MediaType"], "Thick");
  EXPECT_EQ(got["PageSize"], "A5");
  EXPECT_EQ(m.pwgSize, "iso_a5_148x210mm");
  EXPECT_EQ(got["VTDuplex"], "Duplex");
  EXPECT_EQ(got["Combination"], "Off");
  EXPECT_FALSE(m.fitToPage);
  EXPECT_EQ(got.count("jp.vantora.printers.loginName"), 0u);
  EXPECT_EQ(got["OutputMethod"], "Normal");

  // A media-col naming only the tray keeps the default size.
  Ipp trayOnly;
  trayOnly.col("media-col", MediaCol("tray-4", nullptr));
  auto got2 = AsMap(MapJobAttributes(trayOnly.p, defaults.p, nullptr, nullptr));
  EXPECT_EQ(got2["VTInputSlot"], "Tray4");
  EXPECT_EQ(got2["PageSize"], "A5");
  EXPECT_EQ(got2.count("MediaType"), 0u);
}

TEST(JobOptions, UnsupportedValuesAreErrorsNotGuesses) {
  for (auto build : std::initializer_list<std::function<void(Ipp &)>>{
           [](Ipp &j) { j.kw("media", "iso_a0_841x1189mm"); },
           [](Ipp &j) { j.col("media-col", MediaCol("roll-1", nullptr)); },
           [](Ipp &j) { j.col("cover-front", Cover("print-back", "tray-1")); },
           [](Ipp &j) { j.kw("imposition-template", "signature"); },
       }) {
    Ipp job;
    build(job);
    EXPECT_NE(MapJobAttributes(job.p, nullptr, "u", "t").error, "");
  }
}

TEST(JobOptions, ValidateRejectsHostileValues) {
  struct Case {
    const char *what;
    std::function<void(Ipp &)> build;
    const char *bad;  // nullptr: acceptable
  };
  const Case cases[] = {
      {"good PIN",
       [](Ipp &j) { ippAddOctetString(j.p, IPP_TAG_OPERATION, "job-password", "123456", 6); },
       nullptr},
      {"short PIN",
       [](Ipp &j) { ippAddOctetString(j.p, IPP_TAG_OPERATION, "job-password", "123", 3); },
       "job-password"},
      {"long PIN",
       [](Ipp &j) { ippAddOctetString(j.p, IPP_TAG_OPERATION, "job-password", "123456789", 9); },
       "job-password"},
      {"PIN with letters",
       [](Ipp &j) { ippAddOctetString(j.p, IPP_TAG_OPERATION, "job-password", "12ab", 4); },
       "job-password"},
      {"PIN as text",
       [](Ipp &j) {
         ippAddString(j.p, IPP_TAG_OPERATION, IPP_TAG_TEXT, "job-password", nullptr, "1234");
       },
       "job-password"},
      {"hashed PIN", [](Ipp &j) { j.kw("job-password-encryption", "sha2-256"); },
       "job-password-encryption"},
      {"cover as keyword", [](Ipp &j) { j.kw("cover-front", "print-none"); }, "cover-front"},
      {"cover with unknown member",
       [](Ipp &j) {
         ipp_t *c = Cover("print-none", nullptr);
         ippAddInteger(c, IPP_TAG_ZERO, IPP_TAG_INTEGER, "x-evil", 1);
         j.col("cover-back", c);
       },
       "cover-back"},
      {"huge cover collection",
       [](Ipp &j) {
         ipp_t *c = ippNew();
         for (int i = 0; i < 1000; ++i)
           ippAddString(c, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "cover-type", nullptr, "print-none");
         j.col("cover-front", c);
       },
       "cover-front"},
      {"cover tray unknown", [](Ipp &j) { j.col("cover-front", Cover("print-none", "tray-9")); },
       "cover-front"},
      {"media-col repeating a member",
       [](Ipp &j) {
         ipp_t *mc = MediaCol("tray-1", nullptr);
         ippAddString(mc, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "media-source", nullptr, "tray-2");
         j.col("media-col", mc);
       },
       "media-col"},
      {"media-col with every member once",
       [](Ipp &j) { j.col("media-col", MediaCol("tray-1", "labels", "iso_a4_210x297mm")); },
       nullptr},
      {"insert at a page",
       [](Ipp &j) {
         ipp_t *c = ippNew();
         ippAddInteger(c, IPP_TAG_ZERO, IPP_TAG_INTEGER, "insert-after-page-number", 3);
         j.col("insert-sheet", c);
       },
       "insert-sheet"},
      {"poster 5x5", [](Ipp &j) { j.kw("vantora-poster", "5x5"); }, "vantora-poster"},
      {"cut lines as integer",
       [](Ipp &j) { ippAddInteger(j.p, IPP_TAG_JOB, IPP_TAG_INTEGER, "vantora-cut-lines", 1); },
       "vantora-cut-lines"},
      {"stamp too long",
       [](Ipp &j) {
         std::string s(kStampTextMax + 1, 'x');
         ippAddString(j.p, IPP_TAG_JOB, IPP_TAG_TEXT, "vantora-stamp-text", nullptr, s.c_str());
       },
       "vantora-stamp-text"},
      {"stamp with quote",
       [](Ipp &j) {
         ippAddString(j.p, IPP_TAG_JOB, IPP_TAG_TEXT, "vantora-stamp-text", nullptr, "a\"b");
       },
       "vantora-stamp-text"},
      {"stamp at the limit",
       [](Ipp &j) {
         std::string s(kStampTextMax, 'x');
         ippAddString(j.p, IPP_TAG_JOB, IPP_TAG_TEXT, "vantora-stamp-text", nullptr, s.c_str());
       },
       nullptr},
  };
  for (const auto &c : cases) {
    Ipp job;
    c.build(job);
    std::string bad;
    std::string why = ValidateExtraAttributes(job.p, &bad);
    if (c.bad) {
      EXPECT_NE(why, "") << c.what;
      EXPECT_EQ(bad, c.bad) << c.what;
    } else {
      EXPECT_EQ(why, "") << c.what;
    }
  }
}

// A printer default is checked by the rules of the job's own value.
TEST(JobOptions, PrinterDefaultsAreCheckedLikeJobValues) {
  const char *twoValues[] = {"2x2", "none"};
  struct Case {
    const char *what;
    std::function<ipp_attribute_t *(ipp_t *)> build;
    bool usable;
  };
  const Case cases[] = {
      {"poster 2x2",
       [](ipp_t *p) {
         return ippAddString(p, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "vantora-poster-default",
                             nullptr, "2x2");
       },
       true},
      {"poster 5x5",
       [](ipp_t *p) {
         return ippAddString(p, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "vantora-poster-default",
                             nullptr, "5x5");
       },
       false},
      {"poster as text",
       [](ipp_t *p) {
         return ippAddString(p, IPP_TAG_PRINTER, IPP_TAG_TEXT, "vantora-poster-default", nullptr,
                             "2x2");
       },
       false},
      {"poster with two values",
       [&](ipp_t *p) {
         return ippAddStrings(p, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "vantora-poster-default", 2,
                              nullptr, twoValues);
       },
       false},
      {"cut lines boolean",
       [](ipp_t *p) { return ippAddBoolean(p, IPP_TAG_PRINTER, "vantora-cut-lines-default", 1); },
       true},
      {"cut lines integer",
       [](ipp_t *p) {
         return ippAddInteger(p, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "vantora-cut-lines-default", 1);
       },
       false},
      {"not a default",
       [](ipp_t *p) {
         return ippAddString(p, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "vantora-poster", nullptr, "2x2");
       },
       false},
  };
  for (const auto &c : cases) {
    Ipp printer;
    ipp_attribute_t *a = c.build(printer.p);
    EXPECT_EQ(ValidatePrinterDefault(a).empty(), c.usable) << c.what;
  }
  EXPECT_FALSE(ValidatePrinterDefault(nullptr).empty());
}

TEST(JobOptions, JoinQuotesValuesWithBlanksAndQuotes) {
  EXPECT_EQ(JoinFilterOptions({{"A", "x"}, {"B", "two words"}, {"C", "q\"uo\\te"}, {"D", ""}}),
            "A=x B=\"two words\" C=\"q\\\"uo\\\\te\" D=\"\"");
}
