// Line reader and PPD feature-block matching of the line pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

struct PsPjlTables;
struct cups_option_s;

// Reads one line (LF, CR or CR LF kept) of at most *length - 1 bytes into
// buffer; *length becomes the byte count. Returns buffer, or null at end of
// input with nothing read.
char *psgets(char *buffer, int *length, FILE *stream);

int bJudgementPsDscEntries(const char *line, char *featureKeywordBuffer, const PsPjlTables *table);
int iWritePS_DscEntry(int num_options, cups_option_s *options, FILE *out,
                      const char *featureKeywordBuffer, PsPjlTables *table);

// Reads a stream in large blocks and hands out its lines cut exactly as
// psgets cuts them at capacity lineCapacity (LF, CR or CR LF ends a line and
// stays in it; a longer line comes in pieces of lineCapacity - 1 bytes), but
// finds line ends with memchr instead of taking one byte at a time. It also
// hands out whole runs of lines that hold none of a few given bytes, so a
// caller that only cares about lines holding them can pass the rest on as
// one block. The stream is read with fread only, so a read error stays on it
// (ferror) for the caller.
class PsLineReader {
 public:
  static constexpr size_t kDefaultBlock = 256 * 1024;
  explicit PsLineReader(FILE *in, int lineCapacity = 4096, size_t blockSize = kDefaultBlock);
  ~PsLineReader();
  PsLineReader(const PsLineReader &) = delete;
  PsLineReader &operator=(const PsLineReader &) = delete;

  // False when the block could not be allocated.
  bool usable() const { return buffer_ != nullptr; }
  // The next line; its bytes stay valid until the next call. False at the
  // end of the input.
  bool next(const char **line, size_t *length);
  // The whole lines from the current position up to the first line that
  // holds one of the bytes of stops (stopCount of them, at most 4), as far
  // as the block reaches; they count as read. 0 when the line at the current
  // position holds one of them (or its end is not known yet): next() then
  // hands it out.
  size_t plainRun(const char *stops, int stopCount, const char **run);

 private:
  void fill();
  size_t nextOf(unsigned char byte);

  FILE *in_;
  size_t room_;
  size_t size_;
  char *buffer_;
  size_t begin_ = 0;
  size_t end_ = 0;
  bool eof_ = false;
  // Where the next occurrence of a byte in [begin_, end_) was found (end_
  // when none), valid while seen_[byte] equals fills_.
  size_t found_[256] = {};
  unsigned seenAt_[256] = {};
  unsigned fills_ = 1;
};

// Copies whole lines (as psgets cuts them) from in's current position while
// the position is below end, in large blocks. Leaves in just after the last
// line copied. 1 on success, 0 when the input ends first or a read or write
// fails.
int iCopyLinesUntil(int64_t end, FILE *in, FILE *out);
