// The page index of a spooled DSC document and the copy operations that the
// imposition runs use to pull its pieces (header, prolog, setup, pages,
// trailer) by file position. Also the cell record of a sheet layout.
//
// File positions are 64-bit from the scan to the copies, so a spool file of
// any size is imposed from the right places.
#pragma once

#include <cstdint>
#include <cstdio>

// The index of one spool file: its regions are
//   header [0, headerEnd), prolog and setup body [headerEnd, setupEnd),
//   setup tail [setupEnd, offsets[0]), page i [offsets[i], offsets[i+1]),
//   trailer [offsets[count], end of file).
struct PageIndex {
  int32_t count = 0;             // pages found at nesting depth 0
  int64_t *offsets = nullptr;    // count + 1 entries, malloc'ed; caller frees
  int64_t pagesCommentPos = 0;   // the header's "%%Pages:" line, 0 when none
  int64_t headerEnd = 0;         // first byte after the header comments
  int64_t setupEnd = 0;          // the "%%EndSetup" line, else offsets[0]
  // A page carries a whole document without page structure of its own
  // ("%%BeginDocument: nondsc", as CUPS's pstops wraps plain PostScript):
  // its pages cannot be told apart.
  int32_t wrapsNonDsc = 0;
};

// Cell flags of PageInfo.
constexpr uint32_t kPageInfoAddNext = 0x1;    // another cell of the same side follows
constexpr uint32_t kPageInfoTransform = 0xE;  // any of bits 1-3: place, scale and clip

// One cell of a sheet layout, chained first cell first.
struct PageInfo {
  uint32_t reversed;    // non-zero: counted from the end of the document
  int32_t pageNumber;   // offset of the cell's page from the sheet's first page
  uint32_t flags;       // kPageInfoAddNext | kPageInfoTransform bits
  PageInfo *next;
  int32_t rotation;     // carried along, not read by the imposition
  double x;
  double y;
  double scale;
};

// Size of the line and label buffers of the copy operations.
constexpr int kDscLineSize = 4096;

// Scans the whole spool file and fills the index. capacityHint is the job's
// total-pages hint (at least one slot is always allocated). Leaves `in` at
// the trailer start. When the offsets cannot be allocated, *offsets is null,
// *count is 0, and giJobFailed is set with an ERROR line.
void vSearchPositions(FILE *in, int *count, int64_t **offsets, int64_t *headerEnd,
                      int64_t *pagesCommentPos, int64_t *setupEnd, int capacityHint,
                      int32_t *wrapsNonDsc = nullptr);
// The same into a PageIndex record; returns 1 when the index is usable.
int bBuildPageIndex(FILE *in, PageIndex *index, int capacityHint);
// A document without a page the imposition can place (no "%%Page:" comment,
// or pages that wrap a document without page structure) is copied to `out`
// whole, from the start of `in`, with a WARNING line on standard error naming
// the layout that was not applied and, when given, why the document could
// not be paged; returns 1 then. Returns 0, writing nothing, when the index
// has pages.
int bPrintedWholeWithoutPages(const PageIndex *index, FILE *in, FILE *out, const char *layout,
                              const char *why = nullptr);
// Frees the offsets of an index.
void vFreePageIndex(PageIndex *index);

// Copies the header, announcing pageCount pages in its "%%Pages:" line; a
// "%%Pages:" line of the trailer copied later says the same.
void vWriteHeader(int pageCount, FILE *in, FILE *out, int64_t pagesCommentPos, int64_t headerEnd);
// Copies from the current position up to setupEnd.
void vWriteProlog(int64_t setupEnd, FILE *in, FILE *out);
// Copies from the current position up to the first page.
void vWriteSetup(const int64_t *offsets, FILE *in, FILE *out);
// Positions `in` just after page pageIndex's "%%Page:" line and copies its
// label into labelOut (a zeroed buffer of kDscLineSize bytes).
void vSeekPage(int pageIndex, FILE *in, const int64_t *offsets, char *labelOut);
// Writes "%%Page: <label> <*outPageNo + 1>" and advances *outPageNo. When
// `out` is standard output, also reports the page to CUPS (vReportPageProgress).
void vWritePageHeader(const char *label, int *outPageNo, FILE *out);
// The same page comment without the progress report, for writers that report
// once per sheet side themselves (N-up cells).
void vWritePageComment(const char *label, int *outPageNo, FILE *out);
// Copies from the current position up to the start of page pageIndex + 1.
void vWritePageBody(int pageIndex, const int64_t *offsets, FILE *in, FILE *out);
// vSeekPage, vWritePageHeader and vWritePageBody for one page.
void vWritePage(int pageIndex, FILE *in, FILE *out, const int64_t *offsets, int *outPageNo);
// Copies everything from the trailer start to the end of the input.
void vWriteTrailer(FILE *in, FILE *out, const int64_t *offsets, int count);
// Copies whole lines from the current position while it is below end.
// 1 on success, 0 when a read or a write fails.
int iCopyPartOfFile(int64_t end, FILE *in, FILE *out);

// A new cell with its initial values, or null (with an ERROR line and
// giJobFailed set) when it cannot be allocated.
PageInfo *pstCreatePageInfo();
// Frees a whole cell list.
void vFreePageInfoList(PageInfo *head);

// Ends the job: the diagnostic text (one of the "[Filter] - <FATAL> ..."
// texts) goes to the log and, as an ERROR line, to the user; giJobFailed is
// set so main exits with status 1.
void vImpositionFailed(const char *debugText);
// Flushes the imposed output; on a write error ends the job as above.
// Returns 1 when everything was written.
int bImposedOutputWritten(FILE *out);

// Tells CUPS that one more sheet side has been written: "PAGE: n 1" and
// "ATTR: job-impressions-completed=n" on standard error, n counting the
// sides written so far.
void vReportPageProgress();
// The running count reported so far (for tests).
int iPagesReported();
