// The page index of a spooled DSC document and the copies that pull its
// pieces by position. The imposition runs build the index once per spool
// file, then write the header (with its page count rewritten), prolog, setup,
// any page and the trailer, inserting their own PostScript at the seams.
//
// Positions are 64-bit from the scan to the copies: a spool file holding
// scanned pages can pass 2 GiB, and a position cut to 32 bits would copy the
// wrong bytes.
#include "impose/DscIndex.h"

#include <sys/types.h>

#include <cctype>
#include <cinttypes>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "output/Filter_Debug.h"
#include "linepass/PSUtil.h"
#include "output/SpoolUtil.h"

namespace {

int giPagesReported = 0;
// The page count the last header copy announced; a "%%Pages:" line of the
// trailer says the same, not the document's own count.
int giAnnouncedPages = -1;

// Reads one line (or a 4095-byte piece of a longer one) into buffer;
// returns its byte count, 0 at end of input.
int iReadLine(char *buffer, FILE *in) {
  int length = kDscLineSize;
  if (psgets(buffer, &length, in) == nullptr) return 0;
  return length;
}

bool bKeyword(const char *keyword, int keywordLength, const char *text) {
  const int n = static_cast<int>(strlen(text));
  return keywordLength >= n && memcmp(keyword, text, n) == 0;
}

}  // namespace

void vImpositionFailed(const char *debugText) {
  vDebugMessage("%s", debugText);
  vErrorMessage("%s", debugText);
  giJobFailed = 1;
}

int bImposedOutputWritten(FILE *out) {
  if (fflush(out) != 0 || ferror(out)) {
    vImpositionFailed("[Filter] - <FATAL> I/O error writing the imposed job\n");
    return 0;
  }
  return 1;
}

void vSearchPositions(FILE *in, int *count, int64_t **offsets, int64_t *headerEnd,
                      int64_t *pagesCommentPos, int64_t *setupEnd, int capacityHint,
                      int32_t *wrapsNonDsc) {
  *count = 0;
  if (wrapsNonDsc) *wrapsNonDsc = 0;
  *headerEnd = 0;
  *pagesCommentPos = 0;
  *setupEnd = 0;
  // The hint comes from a job option; the table grows as needed, so an
  // absurd hint must not become an absurd allocation.
  constexpr int kMaxInitialCapacity = 1 << 16;
  const int hint = capacityHint < kMaxInitialCapacity ? capacityHint : kMaxInitialCapacity;
  size_t capacity = hint > 1 ? static_cast<size_t>(hint) : 1;
  int64_t *table = static_cast<int64_t *>(malloc(capacity * sizeof(int64_t)));
  *offsets = table;
  if (table == nullptr) {
    vImpositionFailed("[Filter] - <FATAL> out of memory\n");
    return;
  }
  if (fseeko(in, 0, SEEK_SET) != 0) {
    table[0] = 0;
    return;
  }

  // The index scan reads the whole spool file, which for scanned pages can
  // be gigabytes: the lines are cut in large blocks, and only lines holding
  // '%' are looked at one by one.
  PsLineReader *lines = new (std::nothrow) PsLineReader(in, kDscLineSize);
  if (lines == nullptr || !lines->usable()) {
    delete lines;
    free(table);
    *offsets = nullptr;
    vImpositionFailed("[Filter] - <FATAL> out of memory\n");
    return;
  }
  int depth = 0;
  int pages = 0;
  int64_t position = 0;  // start of the line being read
  const char *line = nullptr;
  size_t lineLength = 0;
  // The PJL lines in front of the PostScript (the job header the line pass
  // wrote, or the application's own) belong to no part of the document: the
  // header starts at "%!". Anything the imposition puts after the header
  // must never land between "@PJL JOB" and "@PJL ENTER LANGUAGE".
  bool inPjl = true;
  for (;;) {
    const char *run = nullptr;
    // Runs of lines without '%' hold no comment and no UEL; the PJL lines
    // are read one by one.
    if (!inPjl) {
      if (const size_t runLength = lines->plainRun("%", 1, &run)) {
        if (*headerEnd == 0) *headerEnd = position;
        position += static_cast<int64_t>(runLength);
        continue;
      }
    }
    if (!lines->next(&line, &lineLength)) break;
    const int length = static_cast<int>(lineLength);
    const int64_t next = position + length;
    if (inPjl) {
      if (line[0] == '\x1b' || line[0] == '@' || (length <= 2 && (line[0] == '\n' || line[0] == '\r'))) {
        position = next;
        continue;
      }
      inPjl = false;
    } else if (depth == 0 && length >= 9 && std::memcmp(line, "\x1b%-12345X", 9) == 0) {
      // A UEL after the PostScript has started ends it: what follows (the
      // "@PJL EOJ" that closes the job) is the trailer, written after the
      // last sheet, even in a document without "%%Trailer" or "%%EOF".
      break;
    }
    const char *keyword = line + 2;
    const int keywordLength = length - 2;
    if (length >= 2 && line[0] == '%' && line[1] == '%') {
      if (depth == 0 && bKeyword(keyword, keywordLength, "Page:")) {
        if (static_cast<size_t>(pages) >= capacity - 1) {
          if (capacity > SIZE_MAX / (2 * sizeof(int64_t)) || pages == INT_MAX - 1) {
            delete lines;
            free(table);
            *offsets = nullptr;
            *count = 0;
            vImpositionFailed("[Filter] - <FATAL> out of memory\n");
            return;
          }
          int64_t *grown = static_cast<int64_t *>(realloc(table, capacity * 2 * sizeof(int64_t)));
          if (grown == nullptr) {
            delete lines;
            free(table);
            *offsets = nullptr;
            *count = 0;
            vImpositionFailed("[Filter] - <FATAL> out of memory\n");
            return;
          }
          table = grown;
          *offsets = table;
          capacity *= 2;
        }
        table[pages++] = position;
        position = next;
        continue;
      }
      if (*headerEnd == 0) {
        if (bKeyword(keyword, keywordLength, "Pages:")) {
          *pagesCommentPos = position;
          position = next;
          continue;
        }
        if (bKeyword(keyword, keywordLength, "EndComments")) {
          *headerEnd = next;
          position = next;
          continue;
        }
      }
      if (depth == 0 && pages > 0 && wrapsNonDsc &&
          bKeyword(keyword, keywordLength, "BeginDocument: nondsc"))
        *wrapsNonDsc = 1;
      if (bKeyword(keyword, keywordLength, "BeginDocument") ||
          bKeyword(keyword, keywordLength, "BeginBinary") ||
          bKeyword(keyword, keywordLength, "BeginFile")) {
        ++depth;
      } else if (bKeyword(keyword, keywordLength, "EndDocument") ||
                 bKeyword(keyword, keywordLength, "EndBinary") ||
                 bKeyword(keyword, keywordLength, "EndFile")) {
        // A stray end comment must not hide every later page.
        if (depth > 0) --depth;
      }
      if (depth == 0) {
        if (bKeyword(keyword, keywordLength, "EndSetup")) {
          *setupEnd = position;
        } else if (bKeyword(keyword, keywordLength, "BeginProlog")) {
          *headerEnd = next;
        } else if (bKeyword(keyword, keywordLength, "Trailer") ||
                   bKeyword(keyword, keywordLength, "EOF")) {
          break;
        }
      }
    } else if (line[0] != '%') {
      // Ordinary comments among the header comments (poppler writes
      // "%Produced by ...") leave the header open; code ends it.
      if (*headerEnd == 0) *headerEnd = position;
    }
    position = next;
  }
  delete lines;
  // The stream is left at the trailer (or at the end of the input).
  fseeko(in, position, SEEK_SET);
  table[pages] = position;
  *count = pages;
  if (*setupEnd == 0 || *setupEnd > table[0]) *setupEnd = table[0];
  // The header never reaches into the first page: a document whose header
  // comments run straight into "%%Page:" would otherwise have its first page
  // copied into the header as well.
  if (*headerEnd > table[0]) *headerEnd = table[0];
  if (*pagesCommentPos >= table[0]) *pagesCommentPos = 0;
}

int bBuildPageIndex(FILE *in, PageIndex *index, int capacityHint) {
  int count = 0;
  vSearchPositions(in, &count, &index->offsets, &index->headerEnd, &index->pagesCommentPos,
                   &index->setupEnd, capacityHint, &index->wrapsNonDsc);
  index->count = count;
  return index->offsets != nullptr;
}

namespace {

// Counts the "showpage" calls a PostScript text makes outside procedure
// bodies, fed block by block: comments, strings and hex strings are skipped.
// A document without page comments that draws its pages this way (as
// applications and plain PostScript files do) ends one sheet side with each;
// one that calls it from procedures of its own gives 0 here.
class ShowpageCounter {
 public:
  void feed(const char *data, size_t size) {
    for (size_t i = 0; i < size; ++i) take(data[i]);
  }
  int64_t count() {
    endToken();
    return count_;
  }

 private:
  static bool Delimiter(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\0' || c == '(' ||
           c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' || c == '}' ||
           c == '/' || c == '%';
  }
  void endToken() {
    if (braces_ == 0 && !literal_ && token_ == 8 && std::memcmp(text_, "showpage", 8) == 0)
      ++count_;
    token_ = 0;
    literal_ = false;
  }
  void take(char c) {
    switch (state_) {
      case kComment:
        if (c == '\n' || c == '\r') state_ = kCode;
        return;
      case kString:
        if (escaped_) {
          escaped_ = false;
        } else if (c == '\\') {
          escaped_ = true;
        } else if (c == '(') {
          ++parens_;
        } else if (c == ')' && --parens_ == 0) {
          state_ = kCode;
        }
        return;
      case kHex:
        if (c == '>') state_ = kCode;
        return;
      case kAngle:  // after '<': "<<" opens a dictionary, else a hex string
        state_ = c == '<' ? kCode : kHex;
        if (state_ == kHex && c == '>') state_ = kCode;
        return;
      case kCode:
        break;
    }
    if (!Delimiter(c)) {
      if (token_ < sizeof text_) text_[token_] = c;
      ++token_;
      return;
    }
    // "/showpage" (and "//showpage") names the operator, it does not call it.
    const bool slash = c == '/';
    endToken();
    literal_ = slash;
    switch (c) {
      case '%': state_ = kComment; break;
      case '(': state_ = kString; parens_ = 1; break;
      case '<': state_ = kAngle; break;
      case '{': ++braces_; break;
      case '}': if (braces_ > 0) --braces_; break;
      default: break;
    }
  }

  enum State { kCode, kComment, kString, kHex, kAngle };
  State state_ = kCode;
  bool escaped_ = false;
  bool literal_ = false;  // the token being read follows a '/'
  int64_t parens_ = 0;
  int64_t braces_ = 0;
  char text_[8] = {};
  size_t token_ = 0;
  int64_t count_ = 0;
};

// The page count the header's "%%Pages:" line states, 0 without a number.
int64_t StatedPages(const PageIndex *index, FILE *in) {
  char line[kDscLineSize];
  if (index->pagesCommentPos <= 0 || fseeko(in, index->pagesCommentPos, SEEK_SET) != 0 ||
      std::fgets(line, sizeof line, in) == nullptr)
    return 0;
  long long n = 0;
  return std::sscanf(line, "%%%%Pages: %lld", &n) == 1 && n > 0 ? n : 0;
}

}  // namespace

int bPrintedWholeWithoutPages(const PageIndex *index, FILE *in, FILE *out, const char *layout,
                              const char *why) {
  if (index->count > 0 && !index->wrapsNonDsc) return 0;
  // Without "%%Page:" comments there is nothing to place in a cell, and the
  // deferred showpage would swallow every page the document draws; a page
  // wrapping a whole document would put all its pages in one cell. The
  // document goes to the printer as it came, whole.
  std::fprintf(stderr,
               "WARNING: the document has no page comments%s%s%s; the %s layout was not applied "
               "and it prints as it is.\n",
               why && *why ? " and could not be paged (" : "", why && *why ? why : "",
               why && *why ? ")" : "", layout);
  std::fflush(stderr);
  if (fseeko(in, 0, SEEK_SET) != 0) {
    vImpositionFailed("[Filter] - <FATAL> I/O error reading the spooled document\n");
    return 1;
  }
  char block[1 << 16];
  size_t n;
  // Counted from the start of the PostScript: the job's PJL lines in
  // front are not PostScript.
  ShowpageCounter showpages;
  bool inPostScript = false;
  while ((n = fread(block, 1, sizeof block, in)) > 0) {
    const char *from = block;
    if (!inPostScript) {
      from = static_cast<const char *>(memmem(block, n, "%!", 2));
      inPostScript = from != nullptr;
    }
    if (from != nullptr) showpages.feed(from, n - static_cast<size_t>(from - block));
    if (fwrite(block, 1, n, out) != n) {
      vImpositionFailed("[Filter] - <FATAL> I/O error writing the imposed job\n");
      return 1;
    }
  }
  if (ferror(in)) {
    vImpositionFailed("[Filter] - <FATAL> I/O error reading the spooled document\n");
    return 1;
  }
  // CUPS learns the sheet sides printed from the "PAGE:" lines. Nothing
  // here interprets the document; its sides are, in turn: the showpage
  // calls it makes outside its procedures, the page count its header
  // states, the pages CUPS's pstops wrapped it into (one per copy), one.
  if (out == stdout) {
    int64_t sides = showpages.count();
    if (sides == 0 && index->count == 0) sides = StatedPages(index, in);
    if (sides == 0) sides = index->count > 0 ? index->count : 1;
    for (int64_t i = 0; i < sides && i < INT32_MAX; ++i) vReportPageProgress();
  }
  return 1;
}

void vFreePageIndex(PageIndex *index) {
  free(index->offsets);
  index->offsets = nullptr;
  index->count = 0;
}

int iCopyPartOfFile(int64_t end, FILE *in, FILE *out) {
  // Pages are copied in large blocks, cut into the same lines.
  return iCopyLinesUntil(end, in, out);
}

void vWriteHeader(int pageCount, FILE *in, FILE *out, int64_t pagesCommentPos, int64_t headerEnd) {
  // The trailer's "%%Pages:" says the imposed count too, also when the
  // header has none to rewrite.
  giAnnouncedPages = pageCount;
  if (fseeko(in, 0, SEEK_SET) != 0) {
    vDebugMessage("[Filter] - <FATAL> I/O error in header\n");
    return;
  }
  if (pagesCommentPos != 0) {
    char line[kDscLineSize];
    if (!iCopyPartOfFile(pagesCommentPos, in, out) || iReadLine(line, in) == 0) {
      vDebugMessage("[Filter] - <FATAL> I/O error in header\n");
      return;
    }
    fprintf(out, "%%%%Pages: %d 0\n", pageCount);
  }
  if (!iCopyPartOfFile(headerEnd, in, out)) vDebugMessage("[Filter] - <FATAL> I/O error in header\n");
}

void vWriteProlog(int64_t setupEnd, FILE *in, FILE *out) {
  if (!iCopyPartOfFile(setupEnd, in, out)) vDebugMessage("[Filter] - <FATAL> I/O error in prolog\n");
}

void vWriteSetup(const int64_t *offsets, FILE *in, FILE *out) {
  if (!iCopyPartOfFile(offsets[0], in, out)) vDebugMessage("[Filter] - <FATAL> I/O error in prologue\n");
}

void vSeekPage(int pageIndex, FILE *in, const int64_t *offsets, char *labelOut) {
  char line[kDscLineSize];
  memset(line, 0, sizeof line);
  int length = 0;
  if (fseeko(in, offsets[pageIndex], SEEK_SET) != 0 || (length = iReadLine(line, in)) == 0 ||
      length < 7 || memcmp(line, "%%Page:", 7) != 0) {
    vDebugMessage("[Filter] - <FATAL> I/O error seeking page \n");
    return;
  }
  int start = 7;
  while (start < length && isspace(static_cast<unsigned char>(line[start]))) ++start;
  int end = start;
  if (start < length && line[start] == '(') {
    int depth = 1;
    end = start + 1;
    while (end < length && depth > 0) {
      if (line[end] == '(') ++depth;
      else if (line[end] == ')') --depth;
      ++end;
    }
    if (depth > 0) {
      vDebugMessage("[Filter] - <FATAL> Bad page label while seeking page \n");
      end = length;
      while (end > start && (line[end - 1] == '\n' || line[end - 1] == '\r')) --end;
    }
  } else {
    while (end < length && !isspace(static_cast<unsigned char>(line[end]))) ++end;
  }
  // end - start <= 4095, so the label and its NUL fit the caller's buffer.
  memcpy(labelOut, line + start, static_cast<size_t>(end - start));
  labelOut[end - start] = '\0';
  // A "%%Page:" line longer than the buffer comes in pieces: the rest of it
  // is part of the comment, never of the page body.
  while (line[length - 1] != '\n' && line[length - 1] != '\r') {
    length = iReadLine(line, in);
    if (length == 0) return;
  }
}

void vWritePageComment(const char *label, int *outPageNo, FILE *out) {
  fprintf(out, "%%%%Page: %s %d\n", label, *outPageNo + 1);
  ++*outPageNo;
}

void vWritePageHeader(const char *label, int *outPageNo, FILE *out) {
  vWritePageComment(label, outPageNo, out);
  if (out == stdout) vReportPageProgress();
}

void vWritePageBody(int pageIndex, const int64_t *offsets, FILE *in, FILE *out) {
  if (!iCopyPartOfFile(offsets[pageIndex + 1], in, out))
    vDebugMessage("[Filter] - <FATAL> I/O error writing page \n");
}

void vWritePage(int pageIndex, FILE *in, FILE *out, const int64_t *offsets, int *outPageNo) {
  char label[kDscLineSize];
  memset(label, 0, sizeof label);
  vSeekPage(pageIndex, in, offsets, label);
  vWritePageHeader(label, outPageNo, out);
  vWritePageBody(pageIndex, offsets, in, out);
}

void vWriteTrailer(FILE *in, FILE *out, const int64_t *offsets, int count) {
  if (fseeko(in, offsets[count], SEEK_SET) != 0) return;
  char line[kDscLineSize];
  for (;;) {
    const int length = iReadLine(line, in);
    if (length == 0) return;
    // A header "%%Pages: (atend)" leaves the count to the trailer, which
    // still holds the document's own count: it says the imposed one.
    if (giAnnouncedPages >= 0 && length >= 8 && memcmp(line, "%%Pages:", 8) == 0) {
      fprintf(out, "%%%%Pages: %d\n", giAnnouncedPages);
      continue;
    }
    if (fwrite(line, 1, static_cast<size_t>(length), out) != static_cast<size_t>(length)) return;
  }
}

PageInfo *pstCreatePageInfo() {
  PageInfo *info = static_cast<PageInfo *>(malloc(sizeof(PageInfo)));
  if (info == nullptr) {
    vImpositionFailed("[Filter] - <FATAL> out of memory\n");
    return nullptr;
  }
  info->reversed = 0;
  info->pageNumber = 0;
  info->flags = 0;
  info->next = nullptr;
  info->rotation = 0;
  info->x = 0.0;
  info->y = 0.0;
  info->scale = 1.0;
  return info;
}

void vFreePageInfoList(PageInfo *head) {
  while (head != nullptr) {
    PageInfo *next = head->next;
    free(head);
    head = next;
  }
}

void vReportPageProgress() { vProgressPage(++giPagesReported); }

int iPagesReported() { return giPagesReported; }
