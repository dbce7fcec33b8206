// The customisation table loader: what the file says ends up in the tables'
// fields, section lists decide which items are read, texts fit whole or
// stay empty, and a missing or broken file leaves the job without a table.
#include <plist/plist.h>

#include <cstring>

#include "TicketTestSupport.h"

using namespace ticket;

namespace {

class Loader : public TicketTest {};

TEST_F(Loader, StoresItemsElementsAndArguments) {
  std::string file = OneSectionFile(
      {{"VTCollate", PjlItem(3, {Element("true", "@PJL SET QTY=%1\\n", {"copies"}),
                                 Element("false", "@PJL SET QTY=1\\n")})},
       {"Staple", PsItem("StapleLocation", {Element("Left", "1 StapleSet\\n")})}});
  ASSERT_EQ(Load(file), 0);

  ASSERT_EQ(table_.pjlCount, 1);
  ASSERT_EQ(table_.psCount, 1);
  const PdlEntry &pjl = table_.pjlItems[0];
  EXPECT_STREQ(pjl.name, "VTCollate");
  EXPECT_EQ(pjl.serial, 3);
  EXPECT_STREQ(pjl.dscText, "");
  ASSERT_EQ(pjl.syntaxCount, 2);
  const SyntaxElement *first = pjl.syntaxList;
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->self, first);
  EXPECT_EQ(first->previous, nullptr);
  EXPECT_STREQ(first->value, "true");
  EXPECT_STREQ(first->templateText, "@PJL SET QTY=%1\\n");
  ASSERT_EQ(first->count, 1);
  EXPECT_STREQ(first->arguments[0], "copies");
  const SyntaxElement *second = first->next;
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->previous, first);
  EXPECT_EQ(second->next, nullptr);
  EXPECT_STREQ(second->value, "false");
  EXPECT_EQ(second->count, 0);
  EXPECT_EQ(second->arguments, nullptr);

  const PdlEntry &ps = table_.psItems[0];
  EXPECT_STREQ(ps.name, "Staple");
  EXPECT_STREQ(ps.dscText, "StapleLocation");
  EXPECT_EQ(ps.serial, 0);  // absent
  ASSERT_EQ(ps.syntaxCount, 1);
  EXPECT_STREQ(ps.syntaxList->templateText, "1 StapleSet\\n");
  EXPECT_NE(pstDictEntriesPlist, nullptr);
  EXPECT_NE(pstDictEntriesPlist, stDictEntries);
}

TEST_F(Loader, NoUsableFileLeavesTheTableEmpty) {
  // No file at all.
  EXPECT_EQ(ossFilterCreatePsPjlTables(&table_, "Q610"), -1);
  EXPECT_EQ(table_.pjlCount, 0);
  EXPECT_EQ(table_.pjlItems, nullptr);
  // A file that is not a property list.
  EXPECT_EQ(Load("<?xml version=\"1.0\"?><plist><dict><key>PDL_Compornents"), -1);
  EXPECT_EQ(Load(""), -1);
  // A list without "PDL_Compornents", or with one of the wrong type.
  EXPECT_EQ(Load(Plist(Dict({{"PDL_Components", Dict({})}}))), -1);
  EXPECT_EQ(Load(Plist(Dict({{"PDL_Compornents", StrArr({"Output"})}}))), -1);
  EXPECT_EQ(Load(Plist(StrArr({"PDL_Compornents"}))), -1);
  EXPECT_EQ(table_.pjlCount + table_.psCount, 0);
  EXPECT_EQ(table_.encodeTypeNames, nullptr);
}

TEST_F(Loader, ModelKeyMustNameAFolder) {
  WriteCustomization(OneSectionFile({{"VTCollate", PjlItem(1, {Element("x", "A")})}}));
  EXPECT_EQ(ossFilterCreatePsPjlTables(&table_, nullptr), -1);
  EXPECT_EQ(ossFilterCreatePsPjlTables(&table_, ""), -1);
  EXPECT_EQ(ossFilterCreatePsPjlTables(&table_, "../Q610"), -1);
  EXPECT_EQ(ossFilterCreatePsPjlTables(&table_, "Q610"), 0);
  EXPECT_EQ(table_.pjlCount, 1);
}

TEST_F(Loader, ReadsBinaryPropertyLists) {
  std::string xml = OneSectionFile({{"VTCollate", PjlItem(7, {Element("x", "A")})}});
  plist_t root = nullptr;
  plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &root);
  ASSERT_NE(root, nullptr);
  char *bin = nullptr;
  uint32_t length = 0;
  plist_to_bin(root, &bin, &length);
  plist_free(root);
  ASSERT_NE(bin, nullptr);
  std::string binary(bin, length);
  std::free(bin);
  ASSERT_EQ(binary.compare(0, 6, "bplist"), 0);
  ASSERT_EQ(Load(binary), 0);
  ASSERT_EQ(table_.pjlCount, 1);
  EXPECT_EQ(table_.pjlItems[0].serial, 7);
}

TEST_F(Loader, WithoutReserveOnlyBuiltInNamesAreRead) {
  std::string file = Plist(Dict(
      {{"PDL_Compornents",
        Dict({{"Output", Dict({{"VTCollate", PjlItem(1, {Element("x", "A")})},
                               {"NotBuiltIn", PjlItem(2, {Element("x", "B")})}})},
              {"PerPage", Dict({{"PP-Enable_30", PjlItem(3, {Element("x", "C")})}})},
              {"Stamp", Dict({{"HFNumberingOption_01", PsItem("HFNum", {Element("x", "D")})}})},
              {"Extra", Dict({{"VTCollate", PjlItem(4, {Element("x", "E")})}})}})}}));
  ASSERT_EQ(Load(file), 0);
  EXPECT_EQ(pstDictEntriesPlist, stDictEntries);
  ASSERT_EQ(table_.pjlCount, 2);
  EXPECT_STREQ(table_.pjlItems[0].name, "VTCollate");
  EXPECT_EQ(table_.pjlItems[0].serial, 1);
  EXPECT_STREQ(table_.pjlItems[1].name, "PP-Enable_30");
  ASSERT_EQ(table_.psCount, 1);
  EXPECT_STREQ(table_.psItems[0].dscText, "HFNum");
}

TEST_F(Loader, SectionListFromReserve) {
  auto items = Dict({{"A1", PjlItem(1, {Element("x", "A")})}});
  auto itemsC = Dict({{"C1", PjlItem(2, {Element("x", "C")})}});
  // "B" has no names: the list ends there and "C" is never read.
  std::string file = Plist(Dict(
      {{"PDL_Compornents", Dict({{"A", items}, {"C", itemsC}})},
       {"Reserve", Dict({{"PDEName", StrArr({"A", "B", "C"})},
                         {"JobTicketName", Dict({{"A", StrArr({"A1"})},
                                                 {"C", StrArr({"C1"})}})}})}}));
  ASSERT_EQ(Load(file), 0);
  ASSERT_EQ(table_.pjlCount, 1);
  EXPECT_STREQ(table_.pjlItems[0].name, "A1");
  ASSERT_NE(pstDictEntriesPlist, nullptr);
  EXPECT_STREQ(pstDictEntriesPlist[0].sectionName, "A");
  EXPECT_EQ(pstDictEntriesPlist[1].sectionName, nullptr);

  // An empty "PDEName" is an empty list: no items at all, yet a table.
  std::string empty = Plist(Dict(
      {{"PDL_Compornents", Dict({{"Output", Dict({{"VTCollate", PjlItem(1, {Element("x", "A")})}})}})},
       {"Reserve", Dict({{"PDEName", Arr({})}})}}));
  ASSERT_EQ(Load(empty), 0);
  EXPECT_EQ(table_.pjlCount, 0);
  EXPECT_EQ(table_.psCount, 0);
}

TEST_F(Loader, EmptyItemNameEndsTheSectionWhenStoring) {
  std::string file = Plist(Dict(
      {{"PDL_Compornents", Dict({{"S", Dict({{"X", PjlItem(1, {Element("v", "X")})},
                                            {"Y", PjlItem(2, {Element("v", "Y")})}})}})},
       {"Reserve", Dict({{"PDEName", StrArr({"S"})},
                         {"JobTicketName", Dict({{"S", StrArr({"X", "", "Y"})}})}})}}));
  ASSERT_EQ(Load(file), 0);
  // Y is counted but not stored: its entry stays zero and writes nothing.
  ASSERT_EQ(table_.pjlCount, 2);
  EXPECT_STREQ(table_.pjlItems[0].name, "X");
  EXPECT_STREQ(table_.pjlItems[1].name, "");
  EXPECT_EQ(table_.pjlItems[1].syntaxList, nullptr);
}

TEST_F(Loader, OtherTypesAreIgnoredAndEqualSerialsKept) {
  std::string file = OneSectionFile(
      {{"A", PjlItem(5, {Element("v", "A")})},
       {"B", Dict({{"PDL_Type", Str("pjl")}, {"Serial", Int(5)}})},
       {"C", Dict({{"PDL_Type", Str("PCL")}})},
       {"D", Dict({{"Serial", Int(5)}})},
       {"E", PjlItem(5, {Element("v", "E")})}});
  ASSERT_EQ(Load(file), 0);
  ASSERT_EQ(table_.pjlCount, 2);
  EXPECT_EQ(table_.psCount, 0);
  EXPECT_STREQ(table_.pjlItems[0].name, "A");
  EXPECT_STREQ(table_.pjlItems[1].name, "E");
  EXPECT_EQ(table_.pjlItems[1].serial, 5);
}

TEST_F(Loader, TextsThatDoNotFitStayEmpty) {
  std::string dsc1024(1024, 'K'), dsc1025(1025, 'K');
  std::string value1025(1025, 'v');
  std::string templ2048(2048, 't'), templ2049(2049, 't');
  std::string file = OneSectionFile(
      {{"P1", PsItem(dsc1024, {Element("v", "x")})},
       {"P2", PsItem(dsc1025, {Element("v", "x")})},
       {"J1", PjlItem(1, {Element(value1025, templ2048), Element("w", templ2049)})}});
  ASSERT_EQ(Load(file), 0);
  ASSERT_EQ(table_.psCount, 2);
  EXPECT_EQ(std::string(table_.psItems[0].dscText), dsc1024);
  EXPECT_STREQ(table_.psItems[1].dscText, "");
  ASSERT_EQ(table_.pjlCount, 1);
  const SyntaxElement *e = table_.pjlItems[0].syntaxList;
  EXPECT_STREQ(e->value, "");
  EXPECT_EQ(std::string(e->templateText), templ2048);
  ASSERT_NE(e->next->templateText, nullptr);
  EXPECT_STREQ(e->next->templateText, "");
}

TEST_F(Loader, TextsHoldingZeroBytesAreIgnored) {
  // XML text may carry a raw zero byte; such a text cannot be kept whole.
  std::string withZero = std::string("A") + '\0' + "B";
  std::string file = OneSectionFile(
      {{"J", PjlItem(1, {Element("v" + withZero, "T" + withZero), Element("w", "kept")})},
       {"P", PsItem("K" + withZero, {Element("v", "x")})}});
  ASSERT_EQ(Load(file), 0);
  ASSERT_EQ(table_.pjlCount, 1);
  const SyntaxElement *e = table_.pjlItems[0].syntaxList;
  EXPECT_STREQ(e->value, "");
  ASSERT_NE(e->templateText, nullptr);
  EXPECT_STREQ(e->templateText, "");
  EXPECT_STREQ(e->next->templateText, "kept");
  ASSERT_EQ(table_.psCount, 1);
  EXPECT_STREQ(table_.psItems[0].dscText, "");
}

TEST_F(Loader, ElementForms) {
  std::string file = OneSectionFile({{"J", PjlItem(1, {
      Dict({{"Value", Str("a")}, {"String", Str("no arguments key")}}),
      Dict({{"Value", Str("b")}, {"Argument", StrArr({"x", "y"})}}),
      Dict({{"Value", Str("c")}, {"Argument", Arr({})}, {"String", Str("T")}}),
      Dict({{"Value", Str("d")},
            {"Complex", Arr({Dict({{"Item", Str("Other")}, {"Value", Str("1")},
                                   {"Argument", StrArr({"z"})}, {"String", Str("Z=%1")}}),
                             Dict({{"Item", Str("Other")}, {"Value", Str("2")},
                                   {"String", Str("ignored without Argument")}})})}}),
      Str("not a dictionary"),
  })}});
  ASSERT_EQ(Load(file), 0);
  const PdlEntry &j = table_.pjlItems[0];
  ASSERT_EQ(j.syntaxCount, 5);
  const SyntaxElement *a = j.syntaxList, *b = a->next, *c = b->next, *d = c->next, *e = d->next;
  EXPECT_EQ(a->templateText, nullptr);
  EXPECT_EQ(a->complexItems, nullptr);
  EXPECT_EQ(a->count, 0);
  EXPECT_EQ(b->templateText, nullptr);
  ASSERT_EQ(b->count, 2);
  EXPECT_STREQ(b->arguments[1], "y");
  EXPECT_STREQ(c->templateText, "T");
  EXPECT_EQ(c->count, 0);
  ASSERT_EQ(d->count, 2);
  ASSERT_NE(d->complexItems, nullptr);
  EXPECT_EQ(d->templateText, nullptr);
  EXPECT_STREQ(d->complexItems[0].item, "Other");
  EXPECT_STREQ(d->complexItems[0].value, "1");
  EXPECT_STREQ(d->complexItems[0].templateText, "Z=%1");
  ASSERT_EQ(d->complexItems[0].argumentCount, 1);
  EXPECT_STREQ(d->complexItems[0].arguments[0], "z");
  EXPECT_EQ(d->complexItems[1].templateText, nullptr);
  EXPECT_EQ(d->complexItems[1].argumentCount, 0);
  // An element that is no dictionary still takes its place in the list.
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->value, "");
  EXPECT_EQ(e->next, nullptr);
}

TEST_F(Loader, EncodingListsAndEmbedFlag) {
  std::string file = OneSectionFile(
      {{"J", PjlItem(1, {Element("v", "x")})}},
      {{"JobTicketEncodeType", StrArr({"Secret", "Pin"})},
       {"JobTicketDesType", StrArr({"Secret"})},
       {"JobTicketAesType", Arr({})},
       {"PJLEmbedEnable", Bool(true)}});
  ASSERT_EQ(Load(file), 0);
  ASSERT_EQ(table_.encodeTypeCount, 2);
  EXPECT_STREQ(table_.encodeTypeNames[0], "Secret");
  EXPECT_STREQ(table_.encodeTypeNames[1], "Pin");
  ASSERT_EQ(table_.desTypeCount, 1);
  EXPECT_EQ(table_.aesTypeCount, 0);
  EXPECT_EQ(table_.aesTypeNames, nullptr);
  EXPECT_EQ(table_.bPjlEmbed, 1);

  // A flag of another type leaves the flag alone.
  ASSERT_EQ(Load(OneSectionFile({{"J", PjlItem(1, {Element("v", "x")})}},
                                {{"PJLEmbedEnable", Str("true")}})),
            0);
  EXPECT_EQ(table_.bPjlEmbed, 0);
}

TEST_F(Loader, FreeingResetsEverything) {
  ASSERT_EQ(Load(OneSectionFile({{"J", PjlItem(1, {Element("v", "x")})}},
                                {{"JobTicketEncodeType", StrArr({"J"})}})),
            0);
  ASSERT_NE(pstDictEntriesPlist, nullptr);
  EXPECT_EQ(ossFilterFreePsPjlTables(&table_), 0);
  EXPECT_EQ(table_.pjlCount, 0);
  EXPECT_EQ(table_.pjlItems, nullptr);
  EXPECT_EQ(table_.encodeTypeCount, 0);
  EXPECT_EQ(table_.encodeTypeNames, nullptr);
  EXPECT_EQ(pstDictEntriesPlist, nullptr);
  // Freeing twice is harmless.
  EXPECT_EQ(ossFilterFreePsPjlTables(&table_), 0);
}

TEST_F(Loader, CustomDictionaryIsReadPerKey) {
  WriteCustomization(Plist(Dict({{"PJLEmbedEnable", Bool(true)}, {"Other", Str("x")}})));
  CFOwned flag = MyEntryPListCreateCustomDictionary("Q610", "PJLEmbedEnable");
  bool value = false;
  ASSERT_TRUE(CFBooleanGetValue(flag.get(), value));
  EXPECT_TRUE(value);
  EXPECT_EQ(MyEntryPListCreateCustomDictionary("Q610", "Missing").get(), nullptr);
  EXPECT_EQ(MyEntryPListCreateCustomDictionary("Q611", "Other").get(), nullptr);
  EXPECT_EQ(MyPListCreateDictionaryFromPath((root_ + "/nothing.plist").c_str()).get(), nullptr);
  EXPECT_EQ(MyPListCreateDictionaryFromPath(root_.c_str()).get(), nullptr);  // a folder
}

}  // namespace
