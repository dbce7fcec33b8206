// Test support for the imposition runs: documents whose pages carry markers
// of their own, a reader that splits the filter's output into sheet sides and
// cells, and a Ghostscript rendering of the output whose pixels tell which
// page (and which quarter of it) landed where.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FilterRunner.h"

namespace imposetest {

// A DSC document of `pages` pages from the given creator. Page k (0-based)
// has the label "(pk)", carries the line "(page-marker-k) pop", and fills the
// four quarters of its printable area with colours that encode k (red) and
// the quarter (green): 0 top left, 1 top right, 2 bottom left, 3 bottom right.
inline std::string MarkedDocument(int pages, const std::string &creator = "cgpdftops") {
  std::ostringstream d;
  d << "%!PS-Adobe-3.0\n%%Creator: " << creator << "\n%%Title: marked\n%%Pages: " << pages
    << "\n%%EndComments\n%%BeginProlog\n/vtMarkedProlog true def\n"
    // The rectangle and watermark procedures CUPS's converters write into
    // their documents; the printer does not have them.
    << "userdict/ESPrc/rectclip load put\nuserdict/ESPrf/rectfill load put\n"
    << "userdict/ESPrs/rectstroke load put\nuserdict/ESPwl{}bind put\n%%EndProlog\n"
    << "%%BeginSetup\n/vtMarkedSetup true def\n%%EndSetup\n";
  const int quarter[4][2] = {{36, 396}, {306, 396}, {36, 36}, {306, 36}};
  for (int k = 0; k < pages; ++k) {
    d << "%%Page: (p" << k << ") " << k + 1 << "\n(page-marker-" << k << ") pop\n";
    for (int q = 0; q < 4; ++q) {
      char line[160];
      std::snprintf(line, sizeof line, "%.4f %.4f 0.5 setrgbcolor %d %d 270 360 rectfill\n",
                    (16.0 * k + 8.0) / 255.0, (64.0 * q + 32.0) / 255.0, quarter[q][0],
                    quarter[q][1]);
      d << line;
    }
    d << "showpage\n";
  }
  d << "%%Trailer\n%%EOF\n";
  return d.str();
}

// One page of the output (a sheet side): its "%%Page:" label and number, and
// what each of its cells carries (page index, or -1 for an empty cell).
struct Side {
  std::string label;
  int number = 0;
  std::vector<int> cells;
  std::string text;  // the side's PostScript, page comment included
};

inline std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Splits the output at its "%%Page:" lines; a cell runs from a
// "userdict/ESPsave save put" line to the next "userdict /ESPsave get restore".
inline std::vector<Side> Sides(const std::string &out) {
  std::vector<Side> sides;
  bool inCell = false;
  for (const std::string &line : Lines(out)) {
    if (line.rfind("%%Page:", 0) == 0) {
      Side side;
      std::string rest = line.substr(7);
      size_t start = rest.find_first_not_of(' ');
      size_t lastSpace = rest.rfind(' ');
      if (start != std::string::npos && lastSpace != std::string::npos && lastSpace >= start) {
        side.label = rest.substr(start, lastSpace - start);
        side.number = std::atoi(rest.c_str() + lastSpace + 1);
      }
      sides.push_back(side);
      inCell = false;
    }
    if (sides.empty()) continue;
    Side &side = sides.back();
    side.text += line + "\n";
    if (line == "userdict/ESPsave save put") {
      side.cells.push_back(-1);
      inCell = true;
    } else if (line == "userdict /ESPsave get restore") {
      inCell = false;
    } else if (inCell && line.rfind("(page-marker-", 0) == 0) {
      side.cells.back() = std::atoi(line.c_str() + 13);
    }
  }
  return sides;
}

// The cells of every side, in order.
inline std::vector<std::vector<int>> CellsOf(const std::vector<Side> &sides) {
  std::vector<std::vector<int>> cells;
  for (const Side &s : sides) cells.push_back(s.cells);
  return cells;
}

inline int Count(const std::string &text, const std::string &what) {
  int n = 0;
  for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
  return n;
}

// What the printer has resident: the VTOptions procedure set, and nothing
// else. Whatever else the imposed stream calls, the document or the filter
// must define.
inline std::string Prelude() {
  return "%!PS\n"
         "/VTOptions << /setVToptions { pop } bind >> /ProcSet defineresource pop\n";
}

// A rendered sheet side at 36 dots per inch (half a point per pixel).
struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
  // The colour at (x, y) in points from the bottom left of a Letter sheet.
  void At(double x, double y, int *r, int *g, int *b) const {
    int px = static_cast<int>(x / 2.0);
    int py = height - 1 - static_cast<int>(y / 2.0);
    if (px < 0 || py < 0 || px >= width || py >= height) {
      *r = *g = *b = -1;
      return;
    }
    size_t i = (static_cast<size_t>(py) * width + px) * 3;
    *r = rgb[i];
    *g = rgb[i + 1];
    *b = rgb[i + 2];
  }
  // The page whose marker colour is at (x, y); -1 for paper white or
  // anything that is not a marker colour.
  int PageAt(double x, double y, int *quarter = nullptr) const {
    int r, g, b;
    At(x, y, &r, &g, &b);
    if (b < 120 || b > 136 || r < 0) return -1;
    if (quarter) *quarter = g / 64;
    return r / 16;
  }
};

// Reads the next number of a PPM header, skipping "#" comment lines.
inline int PpmNumber(std::istream &in) {
  for (;;) {
    in >> std::ws;
    if (in.peek() != '#') break;
    std::string comment;
    std::getline(in, comment);
  }
  int n = -1;
  in >> n;
  return n;
}

inline bool ReadPpm(const std::string &path, Image *image) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  in >> magic;
  image->width = PpmNumber(in);
  image->height = PpmNumber(in);
  int maxval = PpmNumber(in);
  in.get();
  if (!in || magic != "P6" || maxval != 255 || image->width <= 0 || image->height <= 0)
    return false;
  image->rgb.resize(static_cast<size_t>(image->width) * image->height * 3);
  in.read(reinterpret_cast<char *>(image->rgb.data()), static_cast<std::streamsize>(image->rgb.size()));
  return static_cast<bool>(in);
}

// Renders the PostScript part of the output (everything from its first
// "%!") after the prelude (by default the one above), one image per sheet side. *log receives
// Ghostscript's messages; false when it fails or reports an error.
inline bool Render(const FilterJob &job, const std::string &output, std::vector<Image> *images,
                   std::string *log, const std::string &prelude_text = Prelude()) {
  size_t start = output.find("%!");
  if (start == std::string::npos) {
    *log = "no PostScript in the output";
    return false;
  }
  std::string prelude = job.writeFile("render/prelude.ps", prelude_text);
  std::string doc = job.writeFile("render/doc.ps", output.substr(start));
  std::string cmd = "gs -q -dNOPAUSE -dBATCH -dSAFER -sPAPERSIZE=letter -dFIXEDMEDIA "
                    "-sDEVICE=ppmraw -r36 -o '" + job.dir() + "/render/side%03d.ppm' '" +
                    prelude + "' '" + doc + "' > '" + job.dir() + "/render/gs.log' 2>&1";
  int status = std::system(cmd.c_str());
  *log = ReadFile(job.dir() + "/render/gs.log") + "\n(gs status " + std::to_string(status) + ")";
  if (status != 0 || log->find("Error") != std::string::npos) return false;
  images->clear();
  for (int n = 1;; ++n) {
    char name[64];
    std::snprintf(name, sizeof name, "/render/side%03d.ppm", n);
    Image image;
    if (!ReadPpm(job.dir() + name, &image)) break;
    images->push_back(std::move(image));
  }
  return true;
}

// The rendered sides of the output; a rendering that fails is a test failure
// (and gives no sides).
inline std::vector<Image> Rendered(const FilterJob &job, const std::string &output,
                                   const std::string &prelude_text = Prelude()) {
  std::vector<Image> images;
  std::string log;
  EXPECT_TRUE(Render(job, output, &images, &log, prelude_text)) << log;
  return images;
}

// A job with the test PPD of a Letter printer.
struct LetterJob : FilterJob {
  LetterJob() { usePpd(); }
};

}  // namespace imposetest
