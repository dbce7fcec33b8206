#include "RasterPs.h"

namespace vtpapp {

void Ascii85Writer::Put(char c) {
  std::fputc(c, out_);
  if (++column_ >= 75) {
    std::fputc('\n', out_);
    column_ = 0;
  }
}

void Ascii85Writer::Group(const unsigned char *b, size_t n) {
  unsigned long v = 0;
  for (size_t i = 0; i < 4; ++i) v = (v << 8) | (i < n ? b[i] : 0);
  if (n == 4 && v == 0) {
    Put('z');
    return;
  }
  char digits[5];
  for (int i = 4; i >= 0; --i) {
    digits[i] = static_cast<char>('!' + v % 85);
    v /= 85;
  }
  for (size_t i = 0; i < n + 1; ++i) Put(digits[i]);
}

void Ascii85Writer::Write(const unsigned char *data, size_t len) {
  while (len > 0) {
    if (numPending_ == 0 && len >= 4) {
      Group(data, 4);
      data += 4;
      len -= 4;
      continue;
    }
    pending_[numPending_++] = *data++;
    --len;
    if (numPending_ == 4) {
      Group(pending_, 4);
      numPending_ = 0;
    }
  }
}

void Ascii85Writer::Finish() {
  if (numPending_ > 0) Group(pending_, numPending_);
  numPending_ = 0;
  std::fputs("~>\n", out_);
  column_ = 0;
}

bool RasterPsWriter::Open(const std::string &path) {
  out_ = std::fopen(path.c_str(), "w");
  if (!out_) return false;
  std::fputs(
      "%!PS-Adobe-3.0\n%%Creator: vantora-printer-app\n%%Pages: (atend)\n"
      "%%EndComments\n%%BeginProlog\n%%EndProlog\n",
      out_);
  return true;
}

bool RasterPsWriter::BeginPage(const RasterPage &page) {
  if (!out_ || enc_) return false;
  if (page.width == 0 || page.height == 0 || page.width > 100000 || page.height > 100000 ||
      (page.bitsPerPixel != 1 && page.bitsPerPixel != 8 && page.bitsPerPixel != 24) ||
      page.pageWidth <= 0 || page.pageHeight <= 0)
    return ok_ = false;
  page_ = page;
  bytesPerLine_ = (static_cast<size_t>(page.width) * page.bitsPerPixel + 7) / 8;
  ++pages_;
  std::fprintf(out_, "%%%%Page: %d %d\n%%%%PageBoundingBox: 0 0 %.0f %.0f\nsave\n", pages_, pages_,
               page.pageWidth, page.pageHeight);
  std::fprintf(out_, "%.3f %.3f scale\n", page.pageWidth, page.pageHeight);
  const char *decode = page.bitsPerPixel == 1   ? "[1 0]"
                       : page.bitsPerPixel == 8 ? "[0 1]"
                                                : "[0 1 0 1 0 1]";
  std::fprintf(out_,
               "/Device%s setcolorspace\n<< /ImageType 1 /Width %u /Height %u /BitsPerComponent %u "
               "/Decode %s /ImageMatrix [%u 0 0 -%u 0 %u] "
               "/DataSource currentfile /ASCII85Decode filter >> image\n",
               page.bitsPerPixel == 24 ? "RGB" : "Gray", page.width, page.height,
               page.bitsPerPixel == 1 ? 1u : 8u, decode, page.width, page.height, page.height);
  enc_ = new Ascii85Writer(out_);
  return true;
}

bool RasterPsWriter::WriteLine(const unsigned char *line) {
  if (!enc_) return false;
  enc_->Write(line, bytesPerLine_);
  return true;
}

bool RasterPsWriter::EndPage() {
  if (!enc_) return false;
  enc_->Finish();
  delete enc_;
  enc_ = nullptr;
  std::fputs("showpage\nrestore\n", out_);
  return true;
}

bool RasterPsWriter::Close() {
  if (!out_) return false;
  if (enc_) EndPage();
  std::fprintf(out_, "%%%%Trailer\n%%%%Pages: %d\n%%%%EOF\n", pages_);
  bool failed = std::ferror(out_) != 0;
  if (std::fclose(out_) != 0) failed = true;
  out_ = nullptr;
  return ok_ && !failed;
}

}  // namespace vtpapp
