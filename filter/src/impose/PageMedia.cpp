// The media size a page states, and fitting such a page into its cell.
#include "impose/PageMedia.h"

#include <sys/types.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "impose/DscIndex.h"

namespace {

// How far into a page its size is looked for: page setups come first.
constexpr int kMaxPageLines = 256;
constexpr int64_t kMaxPageBytes = 256 * 1024;
// Header lines read for "%%DocumentMedia:".
constexpr int kMaxHeaderLines = 256;
// A printer matches page sizes within 5 points.
constexpr double kSizeTolerance = 5.0;
// Sizes beyond this are not a page (a misread number).
constexpr double kMaxSize = 14400.0;

bool Plausible(double w, double h) { return w >= 1.0 && h >= 1.0 && w <= kMaxSize && h <= kMaxSize; }

// Reads `count` numbers from p, separated by blanks; returns the end or null.
const char *Numbers(const char *p, int count, double *values) {
  for (int i = 0; i < count; ++i) {
    char *end = nullptr;
    values[i] = std::strtod(p, &end);
    if (end == p || !std::isfinite(values[i])) return nullptr;
    p = end;
  }
  return p;
}

const char *SkipBlanks(const char *p) {
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

// "/Key [a b ...]" or "/Key[a b ...]" in the line: the count numbers.
bool BracketedAfter(const char *line, const char *key, int count, double *values) {
  const size_t keyLength = std::strlen(key);
  for (const char *p = std::strstr(line, key); p != nullptr; p = std::strstr(p + 1, key)) {
    const char *q = SkipBlanks(p + keyLength);
    if (*q != '[') continue;
    q = Numbers(q + 1, count, values);
    if (q != nullptr && *SkipBlanks(q) == ']') return true;
  }
  return false;
}

// "w h pdfSetupPaper" (poppler's page size call).
bool PopplerPaper(const char *line, double *w, double *h) {
  const char *at = std::strstr(line, "pdfSetupPaper");
  if (at == nullptr) return false;
  double v[2];
  const char *end = Numbers(line, 2, v);
  if (end == nullptr || SkipBlanks(end) != at) return false;
  *w = v[0];
  *h = v[1];
  return true;
}

// "x y translate a rotate" as CUPS's pstops turns a page: the quarter turns
// (1 for a = 90 or -270, 3 for -90 or 270, 0 for anything else) and the
// translation.
int QuarterTurn(const char *line, double *tx, double *ty) {
  double v[2];
  const char *p = Numbers(line, 2, v);
  if (p == nullptr) return 0;
  p = SkipBlanks(p);
  if (std::strncmp(p, "translate", 9) != 0) return 0;
  double angle = 0;
  p = Numbers(p + 9, 1, &angle);
  if (p == nullptr) return 0;
  p = SkipBlanks(p);
  if (std::strncmp(p, "rotate", 6) != 0) return 0;
  const long a = std::lround(angle);
  const int turns = (a == 90 || a == -270) ? 1 : (a == -90 || a == 270) ? 3 : 0;
  if (turns != 0) {
    *tx = v[0];
    *ty = v[1];
  }
  return turns;
}

// The media the header's "%%DocumentMedia:" lists: name (empty for the only
// medium when it lists one) to size. Returns true when found.
bool DocumentMedium(FILE *in, const char *name, double *w, double *h) {
  if (fseeko(in, 0, SEEK_SET) != 0) return false;
  char line[kDscLineSize];
  bool inMedia = false;
  int listed = 0;
  double onlyW = 0, onlyH = 0;
  for (int i = 0; i < kMaxHeaderLines && std::fgets(line, sizeof line, in); ++i) {
    if (i > 0 && (line[0] != '%' || std::strncmp(line, "%%EndComments", 13) == 0)) break;
    const char *entry = nullptr;
    if (std::strncmp(line, "%%DocumentMedia:", 16) == 0) {
      entry = line + 16;
      inMedia = true;
    } else if (inMedia && std::strncmp(line, "%%+", 3) == 0) {
      entry = line + 3;
    } else {
      inMedia = false;
      continue;
    }
    entry = SkipBlanks(entry);
    const char *nameEnd = entry;
    while (*nameEnd != '\0' && *nameEnd != ' ' && *nameEnd != '\t' && *nameEnd != '\n' &&
           *nameEnd != '\r')
      ++nameEnd;
    double v[2];
    if (nameEnd == entry || Numbers(nameEnd, 2, v) == nullptr || !Plausible(v[0], v[1])) continue;
    ++listed;
    onlyW = v[0];
    onlyH = v[1];
    const size_t length = static_cast<size_t>(nameEnd - entry);
    if (*name != '\0' && std::strlen(name) == length && std::strncmp(name, entry, length) == 0) {
      *w = v[0];
      *h = v[1];
      return true;
    }
  }
  if (*name == '\0' && listed == 1) {
    *w = onlyW;
    *h = onlyH;
    return true;
  }
  return false;
}

}  // namespace

bool PageMedia::differsFrom(double w, double h) const {
  return found() && (std::fabs(width - w) > kSizeTolerance || std::fabs(height - h) > kSizeTolerance);
}

PageMedia sFindPageMedia(FILE *in, const int64_t *offsets, int pageIndex, int pageCount) {
  PageMedia media;
  if (offsets == nullptr || pageIndex < 0 || pageIndex >= pageCount) return media;
  const off_t start = ftello(in);
  if (start < 0) return media;
  const int64_t end = std::min(offsets[pageIndex + 1], offsets[pageIndex] + kMaxPageBytes);
  char line[kDscLineSize];
  char mediaName[kDscLineSize] = "";
  int turns = 0;     // pstops's quarter turns, counterclockwise
  int pdfTurns = 0;  // a ps2write page's odd /Rotate
  double tx = 0, ty = 0;  // the translation of pstops's turn
  bool laidOut = false;
  double w = 0, h = 0;
  bool sets = false;
  if (fseeko(in, offsets[pageIndex], SEEK_SET) == 0) {
    int64_t position = offsets[pageIndex];
    for (int i = 0; i < kMaxPageLines && position < end && std::fgets(line, sizeof line, in); ++i) {
      position = ftello(in);
      double v[4];
      if (std::strstr(line, "ESPsave save") != nullptr) {
        laidOut = true;
        break;
      }
      if (std::strncmp(line, "%%PageMedia:", 12) == 0) {
        const char *name = SkipBlanks(line + 12);
        size_t length = std::strcspn(name, " \t\r\n");
        std::memcpy(mediaName, name, length);
        mediaName[length] = '\0';
        continue;
      }
      if (line[0] == '%') continue;
      turns += QuarterTurn(line, &tx, &ty);
      if (BracketedAfter(line, "/PageSize", 2, v)) {
        w = v[0];
        h = v[1];
      } else if (PopplerPaper(line, &v[0], &v[1])) {
        w = v[0];
        h = v[1];
      } else if (BracketedAfter(line, "/MediaBox", 4, v)) {
        w = std::fabs(v[2] - v[0]);
        h = std::fabs(v[3] - v[1]);
        // The page dictionary's /Rotate, on the same or the next lines.
        for (int j = 0; j < 8; ++j) {
          const char *r = std::strstr(line, "/Rotate");
          if (r != nullptr) {
            double angle = 0;
            // The page's own rotation: its size turns, its origin stays.
            if (Numbers(r + 7, 1, &angle) != nullptr && std::lround(angle) % 180 != 0) ++pdfTurns;
            break;
          }
          if (std::strstr(line, ">>") != nullptr || !std::fgets(line, sizeof line, in)) break;
        }
      } else {
        continue;
      }
      if (Plausible(w, h)) {
        sets = true;
        break;
      }
      w = h = 0;
    }
  }
  if (!laidOut) {
    if (!sets && !DocumentMedium(in, mediaName, &w, &h)) w = h = 0;
    if (w > 0 && h > 0) {
      media.setsSize = sets;
      // The page as it draws: its size turned by its own /Rotate.
      if (pdfTurns % 2 == 1) std::swap(w, h);
      media.width = turns % 2 == 1 ? h : w;
      media.height = turns % 2 == 1 ? w : h;
      // pstops's turn maps the page's (x, y) to (tx - y, ty + x) for a
      // quarter counterclockwise, (tx + y, ty - x) for three.
      switch (turns % 4) {
        case 1: media.x = tx - h; media.y = ty; break;
        case 3: media.x = tx; media.y = ty - w; break;
        default: break;
      }
    }
  }
  if (fseeko(in, start, SEEK_SET) != 0) media = PageMedia{};
  return media;
}

bool bWritePageFit(FILE *out, const PageMedia &m, double cellW, double cellH) {
  if (!m.differsFrom(cellW, cellH) || cellW <= 0 || cellH <= 0) return false;
  // A page that lies the other way than its cell is turned a quarter, its
  // top to the left, as landscape pages are shown on upright sheets.
  const bool turned = (m.width > m.height) != (cellW > cellH) && m.width != m.height &&
                      cellW != cellH;
  const double across = turned ? m.height : m.width;
  const double up = turned ? m.width : m.height;
  const double scale = std::min(cellW / across, cellH / up);
  std::fprintf(out, "%.2f %.2f translate %.4f %.4f scale\n", (cellW - scale * across) / 2.0,
               (cellH - scale * up) / 2.0, scale, scale);
  if (turned) std::fprintf(out, "%.2f 0 translate 90 rotate\n", m.height);
  if (m.x != 0 || m.y != 0) std::fprintf(out, "%.2f %.2f translate\n", -m.x, -m.y);
  std::fprintf(out, "%.2f %.2f %.2f %.2f ESPrc\n", m.x, m.y, m.width, m.height);
  return true;
}
