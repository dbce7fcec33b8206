// Tray, media and duplex writers around covers and interleave sheets, and
// the blank page.
#include <gtest/gtest.h>

#include <string>

#include "impose/CoverPages.h"
#include "FilterRunner.h"
#include "ImposeTestUtil.h"

namespace {

const std::string kNullPosition =
    "<</ManualFeed false /TraySwitch true /MediaPosition null>>setpagedevice\n";

std::string TraySelection(const std::string &position) {
  return "currentpagedevice /InputAttributes get " + position +
         " known {\n<</ManualFeed false\n\tcurrentpagedevice /orgTraySwitch 2 copy known {\n"
         "\t\tget /TraySwitch exch\n\t}{\n\t\tpop pop\n\t}ifelse\n\t/MediaPosition " +
         position + ">>setpagedevice\n}if\n";
}

std::string Position(const Options &options, int kind) {
  Capture out;
  WritePS_MediaPosition_BottomHalf(out.stream(), RecordOf(options), kind);
  return out.text();
}

TEST(CoverTraySelection, EveryTrayNameInAnyCaseForEveryKind) {
  const struct {
    const char *value;
    std::string expected;
  } trays[] = {
      {"Tray1", TraySelection("3")}, {"tray2", TraySelection("0")}, {"TRAY3", TraySelection("1")},
      {"Tray4", TraySelection("2")}, {"tray5", TraySelection("38")},
      {"Manual", "<</ManualFeed true /MediaPosition 3>>setpagedevice\n"},
      {"mAnUaL", "<</ManualFeed true /MediaPosition 3>>setpagedevice\n"},
      {"Tray6", kNullPosition},      {"Tray1x", kNullPosition},
      {"", kNullPosition},           {"Auto", kNullPosition},
  };
  const struct {
    int kind;
    const char *gate;
    const char *tray;
  } kinds[] = {{kMediaKindRestore, nullptr, "VTInputSlot"},
               {kMediaKindFrontCover, "FrontCoverPage", "FrontCoverTray"},
               {kMediaKindBackCover, "BackCoverPage", "BackCoverTray"},
               {kMediaKindInterleave, "OHPInterleave", "OHPOpTray"}};
  for (const auto &k : kinds) {
    for (const auto &t : trays) {
      Options options;
      if (k.gate) options.set(k.gate, "True");
      options.set(k.tray, t.value);
      EXPECT_EQ(Position(options, k.kind), t.expected) << k.tray << "=" << t.value;
    }
    // No tray option at all.
    Options none;
    if (k.gate) none.set(k.gate, "True");
    EXPECT_EQ(Position(none, k.kind), kNullPosition) << k.tray;
  }
}

TEST(CoverTraySelection, ASheetKindWhoseOptionIsNotTrueGetsNoTray) {
  for (const char *gate : {"false", "False", "yes", "1", ""}) {
    Options options{{"FrontCoverPage", gate}, {"FrontCoverTray", "Tray1"}};
    EXPECT_EQ(Position(options, kMediaKindFrontCover), kNullPosition) << gate;
  }
  Options absent{{"BackCoverTray", "Tray1"}};
  EXPECT_EQ(Position(absent, kMediaKindBackCover), kNullPosition);
  // Only the first four characters are compared.
  for (const char *gate : {"true", "TRUE", "Trueish"}) {
    Options options{{"OHPInterleave", gate}, {"OHPOpTray", "Tray4"}};
    EXPECT_EQ(Position(options, kMediaKindInterleave), TraySelection("2")) << gate;
  }
  // The body's tray needs no switch; a kind outside the table gets none.
  Options body{{"VTInputSlot", "Tray1"}, {"FrontCoverTray", "Tray2"}};
  EXPECT_EQ(Position(body, 3), kNullPosition);
}

std::string MediaType(const Options &options, int kind) {
  Capture out;
  WritePS_MediaType_InsertPage_BottomHalf(out.stream(), RecordOf(options), kind);
  return out.text();
}

TEST(CoverMediaType, CoverAndInterleaveSheetsArePlain) {
  Options options{{"MediaType", "Heavy"}};
  for (int kind : {kMediaKindFrontCover, kMediaKindBackCover, kMediaKindInterleave})
    EXPECT_EQ(MediaType(options, kind), "<</MediaType (plain)>>setpagedevice\n") << kind;
  EXPECT_EQ(MediaType(options, 3), "");
}

const std::string kTrayGroup =
    "*OpenGroup: *Tray/Paper Handling\n"
    "*OpenUI *MediaType/Media Type: PickOne\n"
    "*OrderDependency: 20 AnySetup *MediaType\n"
    "*DefaultMediaType: Plain\n"
    "*MediaType Plain/Plain: \"<</MediaType (plain)>>setpagedevice\"\n"
    "*MediaType Heavy/Heavy 50%: \"<</MediaType (heavy 50%)>>setpagedevice\"\n"
    "*MediaType heavy/Lower: \"(lower) pop\"\n"
    "*CloseUI: *MediaType\n"
    "*CloseGroup: *Tray\n";

TEST(CoverMediaType, TheBodyGetsItsMediaCodeFromThePpdVerbatim) {
  ScopedPpd ppd(MinimalPpd(kTrayGroup));
  Options options{{"MediaType", "Heavy"}};
  EXPECT_EQ(MediaType(options, kMediaKindRestore), "<</MediaType (heavy 50%)>>setpagedevice\n");

  // Choice names match exactly; an unknown choice or no option writes nothing.
  for (const char *value : {"HEAVY", "Unknown", "", static_cast<const char *>(nullptr)}) {
    Options o;
    if (value) o.set("MediaType", value);
    EXPECT_EQ(MediaType(o, kMediaKindRestore), "") << (value ? value : "no option");
  }
}

TEST(CoverMediaType, OnlyTheTrayGroupIsSearched) {
  // The same option outside a group named "*Tray" is not the printer's.
  std::string group = kTrayGroup;
  group.replace(group.find("*OpenGroup: *Tray"), 17, "*OpenGroup: Tray");
  group.replace(group.find("*CloseGroup: *Tray"), 18, "*CloseGroup: Tray");
  ScopedPpd ppd(MinimalPpd(group));
  Capture out;
  WritePS_MediaType_BottomHalf(out.stream(), ppd.get(), "Heavy");
  EXPECT_EQ(out.text(), "");
}

TEST(CoverMediaType, NoPpdWritesNothing) {
  Capture out;
  WritePS_MediaType_BottomHalf(out.stream(), nullptr, "Heavy");
  EXPECT_EQ(out.text(), "");
}

std::string CoverDuplex(const Options &options, int code) {
  Capture out;
  WritePS_ModifyToCoverPageDuplex_BottomHalf(out.stream(), RecordOf(options), code);
  return out.text();
}

std::string Duplex(const char *duplex, const char *tumble) {
  return std::string("<</Duplex ") + duplex + ">>setpagedevice\n<</Tumble " + tumble +
         ">>setpagedevice\n";
}

TEST(CoverDuplex, ByCoverCodeAndOrientation) {
  Options portrait;
  Options landscape{{"orientation-requested", "4"}};
  Options reverseLandscape{{"orientation-requested", "5"}};
  Options reversePortrait{{"orientation-requested", "6"}};
  for (const Options *o : {&portrait, &landscape, &reverseLandscape, &reversePortrait})
    EXPECT_EQ(CoverDuplex(*o, kCoverSingle), Duplex("false", "false"));
  EXPECT_EQ(CoverDuplex(portrait, kCoverDouble), Duplex("true", "false"));
  EXPECT_EQ(CoverDuplex(reversePortrait, kCoverDouble), Duplex("true", "false"));
  EXPECT_EQ(CoverDuplex(landscape, kCoverDouble), Duplex("true", "true"));
  EXPECT_EQ(CoverDuplex(reverseLandscape, kCoverDouble), Duplex("true", "true"));
  for (int code : {0, 1, 4, -1}) EXPECT_EQ(CoverDuplex(portrait, code), "");
}

TEST(CoverDuplex, RestoreGivesBackTheJobsDuplex) {
  auto restore = [](const Options &o) {
    Capture out;
    WritePS_RestoreDuplex_BottomHalf(out.stream(), RecordOf(o));
    return out.text();
  };
  EXPECT_EQ(restore(Options{}), Duplex("false", "false"));
  EXPECT_EQ(restore(Options{{"VTDuplex", "Single"}, {"Binding", "LongEdge"}}), Duplex("false", "false"));
  EXPECT_EQ(restore(Options{{"VTDuplex", "Duplex"}, {"Binding", "LongEdge"}}), Duplex("true", "false"));
  EXPECT_EQ(restore(Options{{"VTDuplex", "Duplex"}, {"Binding", "ShortEdge"}}), Duplex("true", "true"));
  // A booklet is always bound on the short edge of its sheet.
  EXPECT_EQ(restore(Options{{"VTDuplex", "BookletL"}, {"Binding", "LongEdge"}}), Duplex("true", "true"));
}

TEST(CoverBlankPage, SixLinesAndNoPageComment) {
  Capture out;
  vAddEmptyPage(out.stream());
  EXPECT_EQ(out.text(),
            "userdict/ESPsave save put\nshowpage\nuserdict /ESPsave get restore\n"
            "gsave\ngrestore\nESPshowpage\n");
}

}  // namespace
