// Booklet cover rules: blank counts and page placement for every front/back
// cover combination, and the saddle-stitch order of booklet positions.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "impose/BookletCoverRules.h"
#include "impose/ImposeBooklet.h"

namespace {

enum { kNone = 0, kBlank = 1, kSingle = 2, kDouble = 3 };
const char *const kCodeName[] = {"None", "Blank", "Single", "Double"};

int PrintedPages(int code) { return code == kSingle ? 1 : code == kDouble ? 2 : 0; }

std::string Combo(int front, int back) {
  return std::string("F_") + kCodeName[front] + "_B_" + kCodeName[back];
}

// What each booklet position of a (front, back) booklet of pageCount pages
// carries: the document page index, or -1 for a blank.
std::vector<int> Layout(int front, int back, int pageCount) {
  int padded = pageCount + iBookletBlankPages(back, front, pageCount);
  WriteToPageRule rule = pfnGetWriteToPageRule(back, front);
  std::vector<int> pages;
  for (int s = 0; s < padded; ++s) {
    int position = s;
    pages.push_back(rule(&position, padded, pageCount) ? position : -1);
  }
  return pages;
}

}  // namespace

// The blank counts of the cover table, r = pages mod 4 running 0..3, after a
// rule's 0 is replaced by the plain fill-up.
TEST(BookletBlankCount, MatchesTheCoverTableForEveryCombination) {
  struct Row {
    int front, back;
    int blanks[4];
  };
  const Row rows[] = {
      {kNone, kNone, {0, 3, 2, 1}},       {kBlank, kNone, {4, 7, 6, 5}},
      {kNone, kBlank, {4, 7, 6, 5}},      {kBlank, kBlank, {4, 7, 6, 5}},
      {kSingle, kNone, {4, 3, 6, 5}},     {kSingle, kBlank, {4, 3, 6, 5}},
      {kNone, kSingle, {4, 3, 6, 5}},     {kBlank, kSingle, {4, 3, 6, 5}},
      {kDouble, kNone, {4, 3, 2, 5}},     {kDouble, kBlank, {4, 3, 2, 5}},
      {kDouble, kSingle, {4, 3, 2, 1}},   {kSingle, kDouble, {4, 3, 2, 1}},
      {kDouble, kDouble, {0, 3, 2, 1}},
      // Single/Single, None/Double and Blank/Double: 4 blanks for r = 3
      // would leave a half sheet; the booklet gets 5.
      {kSingle, kSingle, {4, 3, 2, 5}},   {kNone, kDouble, {4, 3, 2, 5}},
      {kBlank, kDouble, {4, 3, 2, 5}},
  };
  for (const Row &row : rows)
    for (int pages = 0; pages <= 12; ++pages)
      EXPECT_EQ(iBookletBlankPages(row.back, row.front, pages), row.blanks[pages % 4])
          << Combo(row.front, row.back) << " with " << pages << " pages";
}

TEST(BookletBlankCount, RuleFunctionsLeaveTheFillUpToTheCaller) {
  for (int pages = 0; pages < 8; ++pages) {
    EXPECT_EQ(iAddWhite_F_None_B_None(pages), 0);
    EXPECT_EQ(iAddWhite_F_Double_B_Double(pages), 0);
  }
  EXPECT_EQ(iAddWhite_F_Single_B_Single(5), 0);
  EXPECT_EQ(iAddWhite_F_Single_B_Single(6), 0);
  EXPECT_EQ(iAddWhite_F_Single_B_Single(4), 4);
  EXPECT_EQ(iAddWhite_F_Blank_B_None(9), 7);
  EXPECT_EQ(iAddWhite_F_Double_B_Single(7), 1);
}

TEST(BookletCoverTables, IndexedBackThenFrontWithAnEmptyFifthRowAndColumn) {
  EXPECT_EQ(stAddWhiteRules[kNone][kBlank], &iAddWhite_F_Blank_B_None);
  EXPECT_EQ(stAddWhiteRules[kDouble][kSingle], &iAddWhite_F_Single_B_Double);
  EXPECT_EQ(stWriteToPageRules[kBlank][kNone], &bJudgementDetailOfWriteToPage_F_None_B_Blank);
  EXPECT_EQ(stWriteToPageRules[kSingle][kDouble], &bJudgementDetailOfWriteToPage_F_Double_B_Single);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(stAddWhiteRules[4][i], nullptr);
    EXPECT_EQ(stAddWhiteRules[i][4], nullptr);
    EXPECT_EQ(stWriteToPageRules[4][i], nullptr);
    EXPECT_EQ(stWriteToPageRules[i][4], nullptr);
  }
  EXPECT_EQ(pfnGetWriteToPageRule(4, 0), nullptr);
  EXPECT_EQ(pfnGetWriteToPageRule(0, -1), nullptr);
  EXPECT_EQ(pfnGetAddWhiteRule(7, 1), nullptr);
  // Codes outside the table still give whole sheets.
  EXPECT_EQ(iBookletBlankPages(9, -2, 5), 3);
}

// For all 16 combinations and documents of 0 to 12 pages: whole sheets, no
// position naming a page outside the document, and, once the document has
// at least the pages its printed covers take, every page exactly once, in
// reading order, with the covers where they belong.
TEST(BookletPlacement, EveryCombinationOverPageCountsZeroToTwelve) {
  for (int front = 0; front < 4; ++front) {
    for (int back = 0; back < 4; ++back) {
      for (int pages = 0; pages <= 12; ++pages) {
        SCOPED_TRACE(Combo(front, back) + " with " + std::to_string(pages) + " pages");
        std::vector<int> layout = Layout(front, back, pages);
        const int padded = static_cast<int>(layout.size());
        EXPECT_EQ(padded % 4, 0);
        EXPECT_GE(padded, pages);
        for (int page : layout) {
          EXPECT_GE(page, -1);
          EXPECT_LT(page, pages);
        }
        if (pages < PrintedPages(front) + PrintedPages(back) || padded < 4) continue;

        std::vector<int> placed;
        for (int page : layout)
          if (page >= 0) placed.push_back(page);
        ASSERT_EQ(static_cast<int>(placed.size()), pages);
        for (int i = 0; i < pages; ++i) EXPECT_EQ(placed[i], i);

        switch (front) {
          case kNone:  // the document starts on the cover only without covers at all
            EXPECT_EQ(layout[0], back == kNone && pages > 0 ? 0 : -1);
            break;
          case kBlank: EXPECT_EQ(layout[0], -1); EXPECT_EQ(layout[1], -1); break;
          case kSingle: EXPECT_EQ(layout[0], 0); EXPECT_EQ(layout[1], -1); break;
          case kDouble: EXPECT_EQ(layout[0], 0); EXPECT_EQ(layout[1], 1); break;
        }
        switch (back) {
          case kBlank:
            EXPECT_EQ(layout[padded - 1], -1);
            EXPECT_EQ(layout[padded - 2], -1);
            break;
          case kSingle:
            EXPECT_EQ(layout[padded - 1], pages - 1);
            EXPECT_EQ(layout[padded - 2], -1);
            break;
          case kDouble:
            EXPECT_EQ(layout[padded - 1], pages - 1);
            EXPECT_EQ(layout[padded - 2], pages - 2);
            break;
        }
      }
    }
  }
}

// A rule that would name a page beyond the document leaves the position
// blank and the position untouched.
TEST(BookletPlacement, PagesOutsideTheDocumentStayBlank) {
  // A one-page document with a front cover printed on both sides: positions
  // 0 and 1 would carry pages 0 and 1.
  int s = 1;
  EXPECT_EQ(bJudgementDetailOfWriteToPage_F_Double_B_None(&s, 4, 1), 0);
  EXPECT_EQ(s, 1);
  s = 0;
  EXPECT_EQ(bJudgementDetailOfWriteToPage_F_Double_B_None(&s, 4, 1), 1);
  EXPECT_EQ(s, 0);
  // A document without pages: no rule names a page.
  for (int front = 0; front < 4; ++front)
    for (int back = 0; back < 4; ++back)
      for (int position = 0; position < 8; ++position) {
        int p = position;
        EXPECT_EQ(pfnGetWriteToPageRule(back, front)(&p, 8, 0), 0) << Combo(front, back);
      }
  // Both covers printed on both sides of a one-page document: position T - 2
  // would name page -1.
  s = 2;
  EXPECT_EQ(bJudgementDetailOfWriteToPage_F_Double_B_Double(&s, 4, 1), 0);
  s = 3;
  EXPECT_EQ(bJudgementDetailOfWriteToPage_F_Double_B_Double(&s, 4, 1), 1);
  EXPECT_EQ(s, 0);
}

TEST(BookletPlacement, PrintedSingleFrontCoverOfFivePages) {
  // Page 0 on the outside of the front cover; position 1 and the last two
  // positions blank; the other pages follow from position 2.
  EXPECT_EQ(Layout(kSingle, kNone, 5), (std::vector<int>{0, -1, 1, 2, 3, 4, -1, -1}));
}

TEST(BookletOrder, SheetsOfFourPagesOutsideThenInside) {
  std::vector<int> order;
  for (int i = 0; i < 8; ++i) order.push_back(iBookletPositionOfSlot(i, 8));
  EXPECT_EQ(order, (std::vector<int>{7, 0, 1, 6, 5, 2, 3, 4}));
  order.clear();
  for (int i = 0; i < 12; ++i) order.push_back(iBookletPositionOfSlot(i, 12));
  EXPECT_EQ(order, (std::vector<int>{11, 0, 1, 10, 9, 2, 3, 8, 7, 4, 5, 6}));
}
