// Wraps raster pages (PWG/Apple raster and JPEG jobs, which PAPPL decodes to
// lines) into a PostScript document the filter can read: one image per page,
// filling the page, ASCII85-encoded so the document stays text with lines.
#pragma once

#include <cstdio>
#include <string>

namespace vtpapp {

// Encodes `len` bytes as ASCII85, continuing a group across calls; Finish()
// writes the last partial group and the end marker "~>".
class Ascii85Writer {
 public:
  explicit Ascii85Writer(std::FILE *out) : out_(out) {}
  void Write(const unsigned char *data, size_t len);
  void Finish();

 private:
  void Put(char c);
  void Group(const unsigned char *b, size_t n);
  std::FILE *out_;
  unsigned char pending_[4] = {};
  size_t numPending_ = 0;
  int column_ = 0;
};

struct RasterPage {
  unsigned width = 0, height = 0;        // pixels
  unsigned bitsPerPixel = 0;             // 1 (black), 8 (gray), 24 (RGB)
  double pageWidth = 0, pageHeight = 0;  // points
};

class RasterPsWriter {
 public:
  // Starts the document in `path`; false when it cannot be written.
  bool Open(const std::string &path);
  bool BeginPage(const RasterPage &page);
  bool WriteLine(const unsigned char *line);  // bytesPerLine of the page
  bool EndPage();
  bool Close();  // writes the trailer; true when every write succeeded
  int pages() const { return pages_; }

 private:
  std::FILE *out_ = nullptr;
  Ascii85Writer *enc_ = nullptr;
  RasterPage page_;
  size_t bytesPerLine_ = 0;
  int pages_ = 0;
  bool ok_ = true;
};

}  // namespace vtpapp
