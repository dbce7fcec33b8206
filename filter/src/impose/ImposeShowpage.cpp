// Deferring the document's showpage to the sheet ends the imposition writes.
#include "impose/ImposeShowpage.h"

#include <sys/types.h>

#include <cstring>

#include "impose/ImposeNup.h"
#include "job/JobRecord.h"
#include "linepass/PSUtil.h"

namespace {

bool Contains(const char *line, int length, const char *what) {
  // A line may hold NUL bytes: search its bytes, not a C string.
  return memmem(line, static_cast<size_t>(length), what, std::strlen(what)) != nullptr;
}

// What the last search found in the document being imposed.
ShowpageUse gUse;

struct Definition {
  const char *name;
  unsigned bit;
};
constexpr Definition kDefinitions[] = {
    {"/ESPshowpage", kDefinesEspShowpage}, {"/ESPrc", kDefinesEspRc},
    {"/ESPrf", kDefinesEspRf},             {"/ESPrs", kDefinesEspRs},
    {"/ESPwl", kDefinesEspWl},             {"/CUPSsetpagedevice", kDefinesCupsSetpagedevice},
};

}  // namespace

void vWriteShowpageDeferral(FILE *out) {
  std::fputs("userdict/ESPshowpage/showpage load put\n", out);
  std::fputs("userdict/showpage{}put\n", out);
}

void vWriteShowpageDeferralKeepingEsp(FILE *out) {
  std::fputs("userdict/ESPshowpage known not{userdict/ESPshowpage/showpage load put}if\n", out);
  std::fputs("userdict/showpage{}put\n", out);
}

ShowpageUse sFindShowpageUse(FILE *in, const PageIndex *index) {
  ShowpageUse use;
  if (index->offsets == nullptr) return use;
  const int64_t setupEnd = index->offsets[0];
  const int64_t end = index->count > 0 ? index->offsets[1] : setupEnd;
  const off_t start = ftello(in);
  if (start < 0) return use;
  int64_t position = start;
  char line[kDscLineSize];
  while (position < end) {
    int length = kDscLineSize;
    if (psgets(line, &length, in) == nullptr || length <= 0) break;
    if (position < setupEnd) {
      if (Contains(line, length, "userdict/showpage{}put")) use.defersItself = 1;
      if (Contains(line, length, "/ESP") || Contains(line, length, "/CUPS"))
        for (const Definition &d : kDefinitions)
          if (Contains(line, length, d.name)) use.defines |= d.bit;
    }
    if (Contains(line, length, "showpage")) use.names = 1;
    if (Contains(line, length, "setpagedevice")) use.namesSetpagedevice = 1;
    position += length;
  }
  // The prolog copy starts where the search started.
  if (fseeko(in, start, SEEK_SET) != 0) {
    use.names = 0;
    use.defersItself = 0;
  }
  return use;
}

int bWriteShowpageDeferralWhereNeeded(int filterType, FILE *in, FILE *out, const PageIndex *index) {
  gUse = ShowpageUse{};
  if (filterType == kFilterCgpdftops || filterType == kFilterPictwpstops) return 0;
  gUse = sFindShowpageUse(in, index);
  const ShowpageUse &use = gUse;
  const int defer = use.names && !use.defersItself;
  if (defer) vWriteShowpageDeferralKeepingEsp(out);
  // A prolog that binds its procedures (ps2write's) would bind the
  // setpagedevice operator into them, out of reach of the cells' guard; a
  // procedure of the same name that calls the operator keeps the name.
  if (use.namesSetpagedevice)
    std::fputs("userdict/setpagedevice known not{userdict/setpagedevice{systemdict/setpagedevice "
               "get exec}bind put}if\n",
               out);
  return defer;
}

bool bDocumentNeedsImposedProcs(int filterType) {
  return filterType != kFilterCgpdftops && filterType != kFilterPictwpstops;
}

bool bOrientationAppliedUpstream(const JobRecord &job) {
  return bDocumentNeedsImposedProcs(job.filterType) && job.orientationRequested &&
         !job.macOrientationGiven;
}

void vWriteImposedDocumentStart(const JobRecord &job, int64_t sides, bool deferCgpdftops, FILE *in,
                                FILE *out, const PageIndex *index) {
  vWriteHeader(static_cast<int>(sides > INT32_MAX ? INT32_MAX : sides), in, out,
               index->pagesCommentPos, index->headerEnd);
  // Every sheet ends with ESPshowpage; the document's own showpage must do
  // nothing. pictwpstops gets its procedures before the setup ends; other
  // documents than cgpdftops ones (such as those of Linux CUPS) get the
  // deferral when they need it.
  if (job.filterType == kFilterCgpdftops) {
    if (deferCgpdftops) vWriteShowpageDeferral(out);
  } else {
    bWriteShowpageDeferralWhereNeeded(job.filterType, in, out, index);
  }
  vWriteProlog(index->setupEnd, in, out);
  if (job.filterType == kFilterPictwpstops) vWriteEspRectProcs(out);
  vWriteSetup(index->offsets, in, out);
  if (bDocumentNeedsImposedProcs(job.filterType)) vWriteImposedProcsWhereMissing(out);
}

void vWriteImposedProcsWhereMissing(FILE *out) {
  // Each definition stays guarded: a document may define a procedure where
  // the search did not look.
  if (!(gUse.defines & kDefinesEspShowpage))
    std::fputs("userdict/ESPshowpage known not{userdict/ESPshowpage/showpage load put}if\n", out);
  if (!(gUse.defines & kDefinesEspRc))
    std::fputs("userdict/ESPrc known not{userdict/ESPrc systemdict/rectclip get put}if\n", out);
  if (!(gUse.defines & kDefinesEspRf))
    std::fputs("userdict/ESPrf known not{userdict/ESPrf systemdict/rectfill get put}if\n", out);
  if (!(gUse.defines & kDefinesEspRs))
    std::fputs("userdict/ESPrs known not{userdict/ESPrs systemdict/rectstroke get put}if\n", out);
  if (!(gUse.defines & kDefinesEspWl))
    std::fputs("userdict/ESPwl known not{userdict/ESPwl{}put}if\n", out);
  if (gUse.defines & kDefinesCupsSetpagedevice)
    std::fputs(
        "userdict/CUPSsetpagedevice known{userdict/setpagedevice/CUPSsetpagedevice load put}if\n",
        out);
}

void vWriteCellGuard(FILE *out, bool placed, bool pageSetsSize) {
  // Pages that end their sheet with their own ESPshowpage are those of a
  // document that defines it (CUPS's pstops does, for the sheets it lays out).
  if (gUse.defines & kDefinesEspShowpage) std::fputs("userdict/ESPshowpage{}put\n", out);
  // A page's own setpagedevice erases the sheet. It must do nothing inside
  // a cell the filter placed, and inside a sheet of a document that had
  // switched it off itself (CUPS's pstops does for the pages it lays out
  // number-up; the filter switched it back on for its tray selections).
  // A page that sets a size of its own is scaled by its cell instead.
  if (((placed || (gUse.defines & kDefinesCupsSetpagedevice)) && gUse.namesSetpagedevice) ||
      pageSetsSize)
    std::fputs("userdict/setpagedevice{pop}put\n", out);
}
