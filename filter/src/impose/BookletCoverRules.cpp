// Cover rules of the booklet: blank counts and page placement for every
// combination of front and back cover (none, blank sheet, printed on one
// side, printed on both sides).
#include "impose/BookletCoverRules.h"

namespace {

// pageCount mod 4, also for a count below zero.
int Remainder4(int pageCount) { return ((pageCount % 4) + 4) % 4; }

// Blank-count tables of four entries, indexed by 3 - (pageCount mod 4).
// A 0 entry asks the caller for the plain fill-up to a multiple of four.
constexpr int kAddBlankCover[4] = {5, 6, 7, 4};        // a blank cover sheet, no printed one
constexpr int kAddSingleCover[4] = {5, 6, 3, 4};       // one printed single cover, no double
constexpr int kAddDoubleFront[4] = {5, 2, 3, 4};       // double front, back none or blank
constexpr int kAddSingleSingle[4] = {4, 0, 0, 4};      // single front and single back
constexpr int kAddDoubleBack[4] = {4, 2, 3, 4};        // double back, front none or blank
constexpr int kAddDoubleSingle[4] = {1, 2, 3, 4};      // one double and one single cover

int Lookup(const int (&table)[4], int pageCount) { return table[3 - Remainder4(pageCount)]; }

// Puts document page `page` into the position when it exists; a rule that
// names a page outside the document leaves the position blank, so the
// booklet never copies from beyond the page index.
int Place(int *position, int page, int pageCount) {
  if (page < 0 || page >= pageCount) return 0;
  *position = page;
  return 1;
}

// The placement rows. s is the position, T the booklet page count, P the
// document page count. Each row tests the first two positions first where it
// treats them specially, then T - 1, then T - 2, then the general case.

// No covers: the document as it is.
int PlaceNoCovers(int *pos, int, int P) {
  int s = *pos;
  return s < P ? Place(pos, s, P) : 0;
}

// A blank cover sheet at the front, the back or both: the first two and the
// last two positions stay blank.
int PlaceBlankCovers(int *pos, int T, int P) {
  int s = *pos;
  if (s == 0 || s == 1) return 0;
  if (s == T - 1 || s == T - 2) return 0;
  return s - 2 < P ? Place(pos, s - 2, P) : 0;
}

// Front cover printed on one side; back none or blank.
int PlaceSingleFront(int *pos, int T, int P) {
  int s = *pos;
  if (s == 0) return Place(pos, 0, P);
  if (s == 1) return 0;
  if (s == T - 1 || s == T - 2) return 0;
  return s <= P ? Place(pos, s - 1, P) : 0;
}

// Front cover printed on both sides; back none or blank.
int PlaceDoubleFront(int *pos, int T, int P) {
  int s = *pos;
  if (s == 0 || s == 1) return Place(pos, s, P);
  if (s == T - 1 || s == T - 2) return 0;
  return s < P ? Place(pos, s, P) : 0;
}

// Back cover printed on one side; front none or blank.
int PlaceSingleBack(int *pos, int T, int P) {
  int s = *pos;
  if (s == 0 || s == 1) return 0;
  if (s == T - 1) return Place(pos, P - 1, P);
  if (s == T - 2) return 0;
  return s - 2 < P - 1 ? Place(pos, s - 2, P) : 0;
}

// Both covers printed on one side.
int PlaceSingleSingle(int *pos, int T, int P) {
  int s = *pos;
  if (s == 0) return Place(pos, 0, P);
  if (s == 1) return 0;
  if (s == T - 1) return Place(pos, P - 1, P);
  if (s == T - 2) return 0;
  return s < P ? Place(pos, s - 1, P) : 0;
}

// Front printed on both sides, back on one side.
int PlaceDoubleSingle(int *pos, int T, int P) {
  int s = *pos;
  if (s == 0 || s == 1) return Place(pos, s, P);
  if (s == T - 1) return Place(pos, P - 1, P);
  if (s == T - 2) return 0;
  return s < P - 1 ? Place(pos, s, P) : 0;
}

// Back cover printed on both sides; front none or blank.
int PlaceDoubleBack(int *pos, int T, int P) {
  int s = *pos;
  if (s == 0 || s == 1) return 0;
  if (s == T - 1) return Place(pos, P - 1, P);
  if (s == T - 2) return Place(pos, P - 2, P);
  return s < P ? Place(pos, s - 2, P) : 0;
}

// Front printed on one side, back on both sides.
int PlaceSingleDouble(int *pos, int T, int P) {
  int s = *pos;
  if (s == 0) return Place(pos, 0, P);
  if (s == 1) return 0;
  if (s == T - 1) return Place(pos, P - 1, P);
  if (s == T - 2) return Place(pos, P - 2, P);
  return s < P - 1 ? Place(pos, s - 1, P) : 0;
}

// Both covers printed on both sides: the last two positions come first.
int PlaceDoubleDouble(int *pos, int T, int P) {
  int s = *pos;
  if (s == T - 1) return Place(pos, P - 1, P);
  if (s == T - 2) return Place(pos, P - 2, P);
  return s < P - 2 ? Place(pos, s, P) : 0;
}

}  // namespace

int iAddWhite_F_None_B_None(int) { return 0; }
int iAddWhite_F_Blank_B_None(int p) { return Lookup(kAddBlankCover, p); }
int iAddWhite_F_Single_B_None(int p) { return Lookup(kAddSingleCover, p); }
int iAddWhite_F_Double_B_None(int p) { return Lookup(kAddDoubleFront, p); }
int iAddWhite_F_None_B_Blank(int p) { return Lookup(kAddBlankCover, p); }
int iAddWhite_F_Blank_B_Blank(int p) { return Lookup(kAddBlankCover, p); }
int iAddWhite_F_Single_B_Blank(int p) { return Lookup(kAddSingleCover, p); }
int iAddWhite_F_Double_B_Blank(int p) { return Lookup(kAddDoubleFront, p); }
int iAddWhite_F_None_B_Single(int p) { return Lookup(kAddSingleCover, p); }
int iAddWhite_F_Blank_B_Single(int p) { return Lookup(kAddSingleCover, p); }
int iAddWhite_F_Single_B_Single(int p) { return Lookup(kAddSingleSingle, p); }
int iAddWhite_F_Double_B_Single(int p) { return Lookup(kAddDoubleSingle, p); }
int iAddWhite_F_None_B_Double(int p) { return Lookup(kAddDoubleBack, p); }
int iAddWhite_F_Blank_B_Double(int p) { return Lookup(kAddDoubleBack, p); }
int iAddWhite_F_Single_B_Double(int p) { return Lookup(kAddDoubleSingle, p); }
int iAddWhite_F_Double_B_Double(int) { return 0; }

int bJudgementDetailOfWriteToPage_F_None_B_None(int *s, int T, int P) { return PlaceNoCovers(s, T, P); }
int bJudgementDetailOfWriteToPage_F_Blank_B_None(int *s, int T, int P) { return PlaceBlankCovers(s, T, P); }
int bJudgementDetailOfWriteToPage_F_Single_B_None(int *s, int T, int P) { return PlaceSingleFront(s, T, P); }
int bJudgementDetailOfWriteToPage_F_Double_B_None(int *s, int T, int P) { return PlaceDoubleFront(s, T, P); }
int bJudgementDetailOfWriteToPage_F_None_B_Blank(int *s, int T, int P) { return PlaceBlankCovers(s, T, P); }
int bJudgementDetailOfWriteToPage_F_Blank_B_Blank(int *s, int T, int P) { return PlaceBlankCovers(s, T, P); }
int bJudgementDetailOfWriteToPage_F_Single_B_Blank(int *s, int T, int P) { return PlaceSingleFront(s, T, P); }
int bJudgementDetailOfWriteToPage_F_Double_B_Blank(int *s, int T, int P) { return PlaceDoubleFront(s, T, P); }
int bJudgementDetailOfWriteToPage_F_None_B_Single(int *s, int T, int P) { return PlaceSingleBack(s, T, P); }
int bJudgementDetailOfWriteToPage_F_Blank_B_Single(int *s, int T, int P) { return PlaceSingleBack(s, T, P); }
int bJudgementDetailOfWriteToPage_F_Single_B_Single(int *s, int T, int P) { return PlaceSingleSingle(s, T, P); }
int bJudgementDetailOfWriteToPage_F_Double_B_Single(int *s, int T, int P) { return PlaceDoubleSingle(s, T, P); }
int bJudgementDetailOfWriteToPage_F_None_B_Double(int *s, int T, int P) { return PlaceDoubleBack(s, T, P); }
int bJudgementDetailOfWriteToPage_F_Blank_B_Double(int *s, int T, int P) { return PlaceDoubleBack(s, T, P); }
int bJudgementDetailOfWriteToPage_F_Single_B_Double(int *s, int T, int P) { return PlaceSingleDouble(s, T, P); }
int bJudgementDetailOfWriteToPage_F_Double_B_Double(int *s, int T, int P) { return PlaceDoubleDouble(s, T, P); }

const AddWhiteRule stAddWhiteRules[5][5] = {
    {iAddWhite_F_None_B_None, iAddWhite_F_Blank_B_None, iAddWhite_F_Single_B_None,
     iAddWhite_F_Double_B_None, nullptr},
    {iAddWhite_F_None_B_Blank, iAddWhite_F_Blank_B_Blank, iAddWhite_F_Single_B_Blank,
     iAddWhite_F_Double_B_Blank, nullptr},
    {iAddWhite_F_None_B_Single, iAddWhite_F_Blank_B_Single, iAddWhite_F_Single_B_Single,
     iAddWhite_F_Double_B_Single, nullptr},
    {iAddWhite_F_None_B_Double, iAddWhite_F_Blank_B_Double, iAddWhite_F_Single_B_Double,
     iAddWhite_F_Double_B_Double, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const WriteToPageRule stWriteToPageRules[5][5] = {
    {bJudgementDetailOfWriteToPage_F_None_B_None, bJudgementDetailOfWriteToPage_F_Blank_B_None,
     bJudgementDetailOfWriteToPage_F_Single_B_None, bJudgementDetailOfWriteToPage_F_Double_B_None,
     nullptr},
    {bJudgementDetailOfWriteToPage_F_None_B_Blank, bJudgementDetailOfWriteToPage_F_Blank_B_Blank,
     bJudgementDetailOfWriteToPage_F_Single_B_Blank, bJudgementDetailOfWriteToPage_F_Double_B_Blank,
     nullptr},
    {bJudgementDetailOfWriteToPage_F_None_B_Single, bJudgementDetailOfWriteToPage_F_Blank_B_Single,
     bJudgementDetailOfWriteToPage_F_Single_B_Single,
     bJudgementDetailOfWriteToPage_F_Double_B_Single, nullptr},
    {bJudgementDetailOfWriteToPage_F_None_B_Double, bJudgementDetailOfWriteToPage_F_Blank_B_Double,
     bJudgementDetailOfWriteToPage_F_Single_B_Double,
     bJudgementDetailOfWriteToPage_F_Double_B_Double, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

AddWhiteRule pfnGetAddWhiteRule(int backCover, int frontCover) {
  if (backCover < 0 || backCover > 3 || frontCover < 0 || frontCover > 3) return nullptr;
  return stAddWhiteRules[backCover][frontCover];
}

WriteToPageRule pfnGetWriteToPageRule(int backCover, int frontCover) {
  if (backCover < 0 || backCover > 3 || frontCover < 0 || frontCover > 3) return nullptr;
  return stWriteToPageRules[backCover][frontCover];
}

int iBookletBlankPages(int backCover, int frontCover, int pageCount) {
  AddWhiteRule rule = pfnGetAddWhiteRule(backCover, frontCover);
  int blanks = rule ? rule(pageCount) : 0;
  if (blanks <= 0) blanks = (4 - Remainder4(pageCount)) % 4;
  // A booklet is folded from whole sheets of four pages. The rules for a
  // single front and back cover, or a double back cover without a printed
  // front one, give four blanks to a document of 4k + 3 pages, which would
  // leave a half sheet and fold the inner pages onto the wrong sheets; the
  // next multiple of four keeps every page in its place.
  blanks += (4 - Remainder4(pageCount + blanks)) % 4;
  return blanks;
}
