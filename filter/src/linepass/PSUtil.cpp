// The line reader of the line pass and the matching of PPD feature blocks
// that the customisation table replaces.
#include "linepass/PSUtil.h"

#include <cups/cups.h>

#include <cstdlib>
#include <cstring>

#include "jobticket/PJLUtil.h"
#include "jobticket/plistAccess.h"

char *psgets(char *buffer, int *length, FILE *stream) {
  if (!length) return nullptr;
  int capacity = *length;
  if (!buffer || !stream || capacity - 1 <= 0) {
    if (buffer && capacity > 0) buffer[0] = '\0';
    *length = 0;
    return nullptr;
  }
  const int room = capacity - 1;
  int stored = 0;
  int terminator = EOF;  // LF or CR that ended the line, stored below
  bool atEnd = false;
  while (stored < room) {
    int c = getc_unlocked(stream);
    if (c == EOF) {
      atEnd = true;
      break;
    }
    if (c == '\n') {
      terminator = '\n';
      break;
    }
    if (c == '\r') {
      int next = getc_unlocked(stream);
      if (next != '\n' && next != EOF) {
        ungetc(next, stream);
        terminator = '\r';
        break;
      }
      buffer[stored++] = '\r';
      if (next == '\n')
        terminator = '\n';
      else
        atEnd = true;
      break;
    }
    buffer[stored++] = static_cast<char>(c);
  }
  if (terminator != EOF) {
    if (stored < room)
      buffer[stored++] = static_cast<char>(terminator);
    else
      ungetc(terminator, stream);  // starts the next line
  }
  buffer[stored] = '\0';
  *length = stored;
  if (atEnd && stored == 0) return nullptr;
  return buffer;
}

int bJudgementPsDscEntries(const char *line, char *featureKeywordBuffer,
                           const PsPjlTables *table) {
  if (!line || !featureKeywordBuffer || !table || !table->psItems) return 0;
  for (int i = 0; i < table->psCount; ++i) {
    const PdlEntry &item = table->psItems[i];
    // The trailing blank keeps *PageSize from matching *PageSizeExtra.
    char pattern[VT_TEXT_SLOT + 2] = {};
    std::snprintf(pattern, sizeof pattern, "*%.1024s ", item.dscText);
    if (std::strstr(line, pattern)) {
      size_t n = strnlen(item.dscText, VT_TEXT_SLOT - 1);
      std::memcpy(featureKeywordBuffer, item.dscText, n);
      featureKeywordBuffer[n] = '\0';
      return 1;
    }
  }
  return 0;
}

int iWritePS_DscEntry(int num_options, cups_option_s *options, FILE *out,
                      const char *featureKeywordBuffer, PsPjlTables *table) {
  int result = -1;
  if (!featureKeywordBuffer || !table || !table->psItems) return result;
  for (int i = 0; i < table->psCount; ++i) {
    PdlEntry &item = table->psItems[i];
    if (std::strncmp(item.dscText, featureKeywordBuffer, VT_TEXT_SLOT) != 0) continue;
    const char *value = cupsGetOption(item.name, num_options, options);
    if (!value) return result;
    result = iCreatePjlDetail(table, item.syntaxCount, value, item.syntaxList, num_options,
                              options, out);
  }
  return result;
}

PsLineReader::PsLineReader(FILE *in, int lineCapacity, size_t blockSize)
    : in_(in),
      room_(lineCapacity > 1 ? static_cast<size_t>(lineCapacity - 1) : 1),
      size_(blockSize > 2 * room_ + 2 ? blockSize : 2 * room_ + 2),
      buffer_(static_cast<char *>(std::malloc(size_))) {}

PsLineReader::~PsLineReader() { std::free(buffer_); }

// Keeps a whole line and the byte after it in the block (the byte after a
// CR decides whether an LF joins it), unless the input ends first.
void PsLineReader::fill() {
  if (!buffer_ || !in_ || eof_ || end_ - begin_ > room_) return;
  std::memmove(buffer_, buffer_ + begin_, end_ - begin_);
  end_ -= begin_;
  begin_ = 0;
  ++fills_;
  while (end_ <= room_ && !eof_) {
    const size_t got = std::fread(buffer_ + end_, 1, size_ - end_, in_);
    if (got == 0) eof_ = true;
    end_ += got;
  }
}

size_t PsLineReader::nextOf(unsigned char byte) {
  if (seenAt_[byte] != fills_ || found_[byte] < begin_) {
    const void *at = std::memchr(buffer_ + begin_, byte, end_ - begin_);
    found_[byte] = at ? static_cast<size_t>(static_cast<const char *>(at) - buffer_) : end_;
    seenAt_[byte] = fills_;
  }
  return found_[byte];
}

bool PsLineReader::next(const char **line, size_t *length) {
  fill();
  if (!buffer_ || begin_ == end_) return false;
  const size_t avail = end_ - begin_;
  const char *p = buffer_ + begin_;
  const size_t limit = avail < room_ ? avail : room_;
  const char *lf = static_cast<const char *>(std::memchr(p, '\n', limit));
  const size_t lfAt = lf ? static_cast<size_t>(lf - p) : limit;
  const char *cr = static_cast<const char *>(std::memchr(p, '\r', lfAt));
  size_t n = limit;
  if (cr) {
    // CR LF stays together while both fit; a CR before anything else ends
    // the line alone.
    const size_t k = static_cast<size_t>(cr - p);
    n = (k + 1 < avail && p[k + 1] == '\n' && k + 1 < room_) ? k + 2 : k + 1;
  } else if (lf) {
    n = lfAt + 1;
  }
  *line = p;
  *length = n;
  begin_ += n;
  return true;
}

size_t PsLineReader::plainRun(const char *stops, int stopCount, const char **run) {
  fill();
  if (!buffer_ || begin_ == end_) return 0;
  size_t stop = end_;
  for (int i = 0; i < stopCount && i < 4; ++i) {
    const size_t at = nextOf(static_cast<unsigned char>(stops[i]));
    if (at < stop) stop = at;
  }
  // The byte after a CR must be in the block to know where its line ends.
  size_t limit = stop;
  if (!eof_ && limit == end_) --limit;
  if (limit <= begin_) return 0;
  const char *p = buffer_ + begin_;
  const size_t span = limit - begin_;
  // Just after an LF, or after a CR that no LF follows, a line starts
  // whatever the lines before it were cut into: the run ends at the last
  // such place before the first stop byte.
  size_t n = 0;
  if (const void *lf = memrchr(p, '\n', span)) n = static_cast<size_t>(static_cast<const char *>(lf) - p) + 1;
  if (nextOf('\r') < limit) {
    const void *cr = memrchr(p, '\r', span);
    const size_t afterCr = static_cast<size_t>(static_cast<const char *>(cr) - p) + 1;
    if (afterCr > n) {
      n = afterCr;
      if (begin_ + n < end_ && p[n] == '\n') ++n;
    }
  }
  if (n == 0) return 0;
  *run = p;
  begin_ += n;
  return n;
}

namespace {
// The block of the copies; one copy runs at a time.
constexpr size_t kCopyBlock = 128 * 1024;
char gCopyBlock[kCopyBlock];
}  // namespace

int iCopyLinesUntil(int64_t end, FILE *in, FILE *out) {
  if (!in || !out) return 0;
  const int64_t start = ftello(in);
  if (start < 0) return 0;
  if (start >= end) return 1;
  int64_t position = start;
  int64_t lineStart = start;  // a place where a line surely starts
  char last = 0;
  while (position < end) {
    const uint64_t left = static_cast<uint64_t>(end - position);
    const size_t want = left < kCopyBlock ? static_cast<size_t>(left) : kCopyBlock;
    const size_t got = std::fread(gCopyBlock, 1, want, in);
    if (got > 0) {
      if (std::fwrite(gCopyBlock, 1, got, out) != got) return 0;
      if (const void *lf = memrchr(gCopyBlock, '\n', got))
        lineStart = position + (static_cast<const char *>(lf) - gCopyBlock) + 1;
      last = gCopyBlock[got - 1];
    }
    position += static_cast<int64_t>(got);
    // The input ended: every line up to there has been copied.
    if (got < want) return 0;
  }
  if (last == '\n') return 1;
  if (last == '\r') {
    const int after = getc_unlocked(in);
    if (after != EOF) ungetc(after, in);
    if (after != '\n') return 1;
  }
  // The end fell inside a line (or between a CR and its LF): cut the lines
  // again from the last place one surely starts and copy the rest of the
  // line that holds the end.
  if (fseeko(in, lineStart, SEEK_SET) != 0) return 0;
  char line[4096];
  int64_t at = lineStart;
  for (;;) {
    int length = sizeof line;
    if (!psgets(line, &length, in)) return 0;
    const int64_t lineEnd = at + length;
    if (lineEnd > end) {
      const size_t tail = static_cast<size_t>(lineEnd - end);
      return std::fwrite(line + (end - at), 1, tail, out) == tail ? 1 : 0;
    }
    if (lineEnd == end) return 1;
    at = lineEnd;
  }
}
