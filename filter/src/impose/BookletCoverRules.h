// Rules that fit front and back covers into a saddle-stitched booklet: how
// many blank pages the booklet needs, and which document page (if any) goes
// into each booklet position. Position 0 is the outside of the front cover,
// position T - 1 the outside of the back cover, T being the booklet's page
// count (document pages plus blanks).
//
// Both tables are indexed [back cover code][front cover code] with the codes
// of iGetFrontCoverPage / iGetBackCoverPage (0 none, 1 blank sheet, 2 printed
// on one side, 3 printed on both sides); the fifth row and column are empty.
#pragma once

// Blank pages to add to a booklet of pageCount document pages; 0 asks for
// the plain fill-up to a multiple of four (iBookletBlankPages applies it).
typedef int (*AddWhiteRule)(int pageCount);
// True when a document page goes into booklet position *position; the
// position is then rewritten to that page's index (always 0 <= index <
// pageCount). paddedCount is T.
typedef int (*WriteToPageRule)(int *position, int paddedCount, int pageCount);

int iAddWhite_F_None_B_None(int pageCount);
int iAddWhite_F_Blank_B_None(int pageCount);
int iAddWhite_F_Single_B_None(int pageCount);
int iAddWhite_F_Double_B_None(int pageCount);
int iAddWhite_F_None_B_Blank(int pageCount);
int iAddWhite_F_Blank_B_Blank(int pageCount);
int iAddWhite_F_Single_B_Blank(int pageCount);
int iAddWhite_F_Double_B_Blank(int pageCount);
int iAddWhite_F_None_B_Single(int pageCount);
int iAddWhite_F_Blank_B_Single(int pageCount);
int iAddWhite_F_Single_B_Single(int pageCount);
int iAddWhite_F_Double_B_Single(int pageCount);
int iAddWhite_F_None_B_Double(int pageCount);
int iAddWhite_F_Blank_B_Double(int pageCount);
int iAddWhite_F_Single_B_Double(int pageCount);
int iAddWhite_F_Double_B_Double(int pageCount);

int bJudgementDetailOfWriteToPage_F_None_B_None(int *position, int paddedCount, int pageCount);
int bJudgementDetailOfWriteToPage_F_Blank_B_None(int *position, int paddedCount, int pageCount);
int bJudgementDetailOfWriteToPage_F_Single_B_None(int *position, int paddedCount, int pageCount);
int bJudgementDetailOfWriteToPage_F_Double_B_None(int *position, int paddedCount, int pageCount);
int bJudgementDetailOfWriteToPage_F_None_B_Blank(int *position, int paddedCount, int pageCount);
int bJudgementDetailOfWriteToPage_F_Blank_B_Blank(int *position, int paddedCount, int pageCount);
int bJudgementDetailOfWriteToPage_F_Single_B_Blank(int *position, int paddedCount, int pageCount);
int bJudgementDetailOfWriteToPage_F_Double_B_Blank(int *position, int paddedCount, int pageCount);
int bJudgementDetailOfWriteToPage_F_None_B_Single(int *position, int paddedCount, int pageCount);
int bJudgementDetailOfWriteToPage_F_Blank_B_Single(int *position, int paddedCount, int pageCount);
int bJudgementDetailOfWriteToPage_F_Single_B_Single(int *position, int paddedCount, int pageCount);
int bJudgementDetailOfWriteToPage_F_Double_B_Single(int *position, int paddedCount, int pageCount);
int bJudgementDetailOfWriteToPage_F_None_B_Double(int *position, int paddedCount, int pageCount);
int bJudgementDetailOfWriteToPage_F_Blank_B_Double(int *position, int paddedCount, int pageCount);
int bJudgementDetailOfWriteToPage_F_Single_B_Double(int *position, int paddedCount, int pageCount);
int bJudgementDetailOfWriteToPage_F_Double_B_Double(int *position, int paddedCount, int pageCount);

// [back][front]; entries of row 4 and column 4 are null.
extern const AddWhiteRule stAddWhiteRules[5][5];
extern const WriteToPageRule stWriteToPageRules[5][5];

// The rules for a cover combination, or null when a code is outside 0..3.
AddWhiteRule pfnGetAddWhiteRule(int backCover, int frontCover);
WriteToPageRule pfnGetWriteToPageRule(int backCover, int frontCover);

// Blank pages the booklet gets: the rule's count, or the plain fill-up to a
// multiple of four when the rule gives 0 or less (or the codes are invalid);
// pages plus blanks always make whole sheets (a multiple of four).
int iBookletBlankPages(int backCover, int frontCover, int pageCount);
