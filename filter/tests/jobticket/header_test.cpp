// The PJL header writer: items in serial order, the option value selecting
// the syntax element, templates filled with option values in order of
// appearance, and lines that cannot be composed whole dropped.
#include <string>
#include <vector>

#include "jobticket/JobTicketEncode.h"
#include "jobticket/PJLUtil.h"
#include "TicketTestSupport.h"

using namespace ticket;

namespace {

class Header : public TicketTest {
 protected:
  // The header for the loaded table and the given options.
  std::string Write(const Options &options) {
    Capture out;
    WritePJLHeader_TypeGeneral(nullptr, options.count(), options.options(), out.stream(), &table_);
    return out.text();
  }
  // Loads a one-item table and writes its header.
  std::string WriteOne(const std::string &item, const Options &options) {
    EXPECT_EQ(Load(OneSectionFile({{"Item", item}})), 0);
    return Write(options);
  }
};

TEST_F(Header, ItemsInSerialOrderWithinRange) {
  ASSERT_EQ(Load(OneSectionFile({{"Five", PjlItem(5, {Element("x", "@PJL FIVE\\n")})},
                                 {"One", PjlItem(1, {Element("x", "@PJL ONE\\n")})},
                                 {"Late", PjlItem(1000, {Element("x", "@PJL LATE\\n")})},
                                 {"Neg", PjlItem(-1, {Element("x", "@PJL NEG\\n")})},
                                 {"Huge", PjlItem(4294967297LL, {Element("x", "@PJL HUGE\\n")})},
                                 {"Zero", PjlItem(0, {Element("x", "@PJL ZERO\\n")})},
                                 {"Last", PjlItem(999, {Element("x", "@PJL LAST\\n")})},
                                 {"AlsoOne", PjlItem(1, {Element("x", "@PJL ONE AGAIN\\n")})}})),
            0);
  Options o("Five=x One=x Late=x Neg=x Huge=x Zero=x Last=x AlsoOne=x");
  EXPECT_EQ(Write(o), "@PJL ZERO\n@PJL ONE\n@PJL ONE AGAIN\n@PJL FIVE\n@PJL LAST\n");
  // An item whose option is not set writes nothing.
  Options some("Five=x");
  EXPECT_EQ(Write(some), "@PJL FIVE\n");
}

// One element, one template: what the filled line becomes.
TEST_F(Header, TemplatesFilledFromTheOptions) {
  const struct {
    const char *value, *templ;
    std::vector<std::string> args;
    const char *options, *expected;
  } cases[] = {
      // A single element is written for any value of its item.
      {"OnlyThis", "@PJL SET X=ON\\n", {}, "Item=Other", "@PJL SET X=ON\n"},
      {"x", "@PJL SET QTY=%1\\n", {"copies"}, "Item=x copies=3", "@PJL SET QTY=3\n"},
      {"x", "@PJL SET QTY=%1\\n", {"copies"}, "Item=x", ""},  // argument unset: line dropped
      // Numbers do not choose the argument; the order of appearance does.
      {"x", "%2-%1 %99.", {"a", "b", "c"}, "Item=x a=A b=B c=C", "A-B C."},
      // Three digits: the third is text. "%%1" and "%x" are not placeholders.
      {"x", "%100|%%1|%x|%", {"a"}, "Item=x a=A", "A0|%%1|%x|%"},
      {"x", "%1 and %2\\n", {"a"}, "Item=x a=A", "A and %s\n"},  // extra ones stay "%s"
      // A literal line feed in the template is kept; no line end is added.
      {"x", "L1\nL2=%1", {"a"}, "Item=x a=A", "L1\nL2=A"},
      // A fetched argument without a placeholder drops the line; a placeholder
      // behind a backslash is not one.
      {"x", "@PJL ONLY=%1\\n", {"a", "b"}, "Item=x a=A b=B", ""},
      {"x", "\\%1=%1", {"a"}, "Item=x a=A", "\\%s=A"},
      {"x", "\\%1", {"a"}, "Item=x a=A", ""},
      // Without arguments the template is text, not a format; with them, text
      // after the placeholders is copied as it stands. An empty one writes nothing.
      {"x", "@PJL COMMENT 100%% %d %s %n %*.*s\\n", {}, "Item=x",
       "@PJL COMMENT 100% %d %s %n %*.*s\n"},
      {"x", "%1 100%%", {"a"}, "Item=x a=A", "A 100%%"},
      {"x", "", {}, "Item=x", ""},
      // Only the login name falls back to the job owner.
      {"x", "U=%1", {"jp.vantora.printers"}, "Item=x com.apple.print.JobInfo.PMJobOwner=alice",
       ""},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(WriteOne(PjlItem(1, {Element(c.value, c.templ, c.args)}), Options(c.options)),
              c.expected)
        << c.templ << " with " << c.options;
  }
  std::string item = PjlItem(1, {Element("OnlyThis", "@PJL SET X=ON\\n")});
  EXPECT_EQ(WriteOne(item, Options().set("Item", "")), "@PJL SET X=ON\n");
  // A single complex element writes nothing, even when its item matches.
  std::string complex = PjlItem(1, {Dict({{"Value", Str("v")},
      {"Complex", Arr({Dict({{"Item", Str("Sub")}, {"Value", Str("s")},
                             {"Argument", Arr({})}, {"String", Str("@PJL SUB\\n")}})})}})});
  EXPECT_EQ(WriteOne(complex, Options("Item=v Sub=s")), "");
}

TEST_F(Header, ValueSelectsElementsCaseSensitively) {
  std::string item = PjlItem(1, {Element("true", "@PJL COLLATE=ON\\n"),
                                 Element("false", "@PJL COLLATE=OFF\\n"),
                                 Element("TRUE", "@PJL COLLATE=UPPER\\n"),
                                 Element("Tru", "@PJL PREFIX\\n")});
  EXPECT_EQ(WriteOne(item, Options("Item=True")), "@PJL COLLATE=ON\n");
  EXPECT_EQ(WriteOne(item, Options("Item=False")), "@PJL COLLATE=OFF\n");
  EXPECT_EQ(WriteOne(item, Options("Item=true")), "@PJL COLLATE=ON\n");
  EXPECT_EQ(WriteOne(item, Options("Item=TRUE")), "@PJL COLLATE=UPPER\n");
  EXPECT_EQ(WriteOne(item, Options("Item=tRUE")), "");
  EXPECT_EQ(WriteOne(item, Options("Item=Truex")), "");
}

TEST_F(Header, EveryMatchingElementIsApplied) {
  std::string item = PjlItem(1, {Element("a", "@PJL ONE\\n"), Element("b", "@PJL NOT\\n"),
                                 Element("a", "@PJL TWO\\n")});
  EXPECT_EQ(WriteOne(item, Options("Item=a")), "@PJL ONE\n@PJL TWO\n");
}

TEST_F(Header, AtMostThirtyArgumentsArePlaced) {
  std::vector<std::string> names;
  std::string templ;
  Options o("Item=x");
  // Appended piece by piece: GCC's -Wrestrict misjudges "a" + std::to_string(i)
  // in optimised builds.
  for (int i = 1; i <= 31; ++i) {
    const std::string number = std::to_string(i);
    names.push_back(std::string("a").append(number));
    templ.append("%").append(number).append(",");
    if (i <= 30) o.set(names.back(), number);
  }
  // a31 is unset: it is never fetched, so the line is still written.
  std::string item = Dict({{"PDL_Type", Str("PJL")}, {"Serial", Int(1)},
      {"Syntax", Arr({Dict({{"Value", Str("x")}, {"Argument", StrArr(names)},
                            {"String", Str(templ)}})})}});
  std::string expected;
  for (int i = 1; i <= 30; ++i) expected += std::to_string(i) + ",";
  expected += "%s,";
  EXPECT_EQ(WriteOne(item, o), expected);
}

TEST_F(Header, LoginNameFallsBackToJobOwner) {
  std::string item = PjlItem(1, {Element("x", "@PJL SET USERNAME=\"%1\"\\n",
                                         {"jp.vantora.printers.loginName"})});
  EXPECT_EQ(WriteOne(item, Options("Item=x com.apple.print.JobInfo.PMJobOwner=alice")),
            "@PJL SET USERNAME=\"alice\"\n");
  EXPECT_EQ(WriteOne(item, Options("Item=x jp.vantora.printers.loginName=bob "
                                   "com.apple.print.JobInfo.PMJobOwner=alice")),
            "@PJL SET USERNAME=\"bob\"\n");
  EXPECT_EQ(WriteOne(item, Options("Item=x")), "");
  // Only in plain elements.
  std::string complex = PjlItem(1, {Element("y", "never"), Dict({{"Value", Str("x")},
      {"Complex", Arr({Dict({{"Item", Str("Sub")}, {"Value", Str("s")},
                             {"Argument", StrArr({"jp.vantora.printers.loginName"})},
                             {"String", Str("U=%1")}})})}})});
  EXPECT_EQ(WriteOne(complex, Options("Item=x Sub=s com.apple.print.JobInfo.PMJobOwner=alice")),
            "");
  EXPECT_EQ(WriteOne(complex, Options("Item=x Sub=s jp.vantora.printers.loginName=bob")), "U=bob");
}

TEST_F(Header, ComplexElementWritesFirstMatchingItem) {
  std::string item = PjlItem(1, {
      Element("plain", "@PJL PLAIN\\n"),
      Dict({{"Value", Str("true")},
            {"Complex", Arr({
                Dict({{"Item", Str("Mode")}, {"Value", Str("a")}, {"Argument", Arr({})},
                      {"String", Str("@PJL MODE A\\n")}}),
                Dict({{"Item", Str("Flag")}, {"Value", Str("true")}, {"Argument", StrArr({"n"})},
                      {"String", Str("@PJL FLAG %1\\n")}}),
                Dict({{"Item", Str("Flag")}, {"Value", Str("true")}, {"Argument", Arr({})},
                      {"String", Str("@PJL SECOND\\n")}})})}})});
  EXPECT_EQ(WriteOne(item, Options("Item=True Mode=a Flag=True n=7")), "@PJL MODE A\n");
  EXPECT_EQ(WriteOne(item, Options("Item=True Mode=b Flag=True n=7")), "@PJL FLAG 7\n");
  // The first match is taken even when its line is dropped.
  EXPECT_EQ(WriteOne(item, Options("Item=True Flag=True")), "");
  EXPECT_EQ(WriteOne(item, Options("Item=True")), "");
  EXPECT_EQ(WriteOne(item, Options("Item=plain Mode=a")), "@PJL PLAIN\n");
}

TEST_F(Header, DetailResultTellsWhetherTheLastLineWasWritten) {
  ASSERT_EQ(Load(OneSectionFile({{"Item", PjlItem(1, {Element("a", "A\\n"),
                                                      Element("b", "B=%1\\n", {"arg"})})}})),
            0);
  const PdlEntry &e = table_.pjlItems[0];
  Options with("arg=1"), without;
  Capture out;
  EXPECT_EQ(iCreatePjlDetail(&table_, e.syntaxCount, "a", e.syntaxList, with.count(),
                             with.options(), out.stream()), 0);
  EXPECT_EQ(iCreatePjlDetail(&table_, e.syntaxCount, "b", e.syntaxList, with.count(),
                             with.options(), out.stream()), 0);
  EXPECT_EQ(iCreatePjlDetail(&table_, e.syntaxCount, "b", e.syntaxList, without.count(),
                             without.options(), out.stream()), -1);
  EXPECT_EQ(iCreatePjlDetail(&table_, e.syntaxCount, "c", e.syntaxList, with.count(),
                             with.options(), out.stream()), -1);
  EXPECT_EQ(iCreatePjlDetail(&table_, 0, "a", e.syntaxList, with.count(), with.options(),
                             out.stream()), -1);
  EXPECT_EQ(out.text(), "A\nB=1\n");
}

TEST_F(Header, LinesAreWrittenWholeOrNotAtAll) {
  // Each argument holds at most 1027 bytes, so the line is made long from two.
  // "@PJL X=" and the line feed are 8 bytes.
  std::string two = PjlItem(1, {Element("x", "@PJL X=%1%2\\n", {"a", "b"})});
  std::string a(1020, 'a');
  std::string bFits(2047 - 8 - 1020, 'b'), bLong(2048 - 8 - 1020, 'b');
  std::string line = WriteOne(two, Options().set("Item", "x").set("a", a).set("b", bFits));
  EXPECT_EQ(line.size(), 2047u);
  EXPECT_EQ(line, "@PJL X=" + a + bFits + "\n");
  EXPECT_EQ(WriteOne(two, Options().set("Item", "x").set("a", a).set("b", bLong)), "");
  // A template of 2047 bytes without arguments is written as it is.
  std::string longText(2047, 't');
  EXPECT_EQ(WriteOne(PjlItem(1, {Element("x", longText)}), Options("Item=x")), longText);
}

TEST_F(Header, EncodedValuesAreWrittenByLength) {
  ASSERT_EQ(Load(OneSectionFile({{"Item", PjlItem(1, {Element("x", "K=%1;", {"Key"})})}},
                                {{"JobTicketEncodeType", StrArr({"Key"})},
                                 {"JobTicketDesType", StrArr({"Key"})}})),
            0);
  EXPECT_EQ(Write(Options("Item=x Key=00FF41")), std::string("K=\0\xff" "A;", 6));
}

}  // namespace
