// Setup PostScript the printer needs but the document does not carry,
// injected by the scanner at DSC comments: the orientation flag of the
// printer's VTOptions procedure set after "%%BeginSetup", the 180-degree page
// turn after "%%BeginPageSetup", and, on systems older than 10.5.0, the
// placement of each logical page of a turned N-up sheet made by cgpdftops.
// Every text goes through the spool-aware sink, so it lands wherever the
// rest of the line pass goes.
#include "linepass/PS_DSC.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "output/Filter_Debug.h"
#include "setup/PSGeometry.h"
#include "output/SpoolUtil.h"

namespace {

// Portrait and reverse portrait keep the page upright on the sheet.
bool IsPortraitLike(int orient) { return orient == 1 || orient == 3; }

// One cell of an N-up grid: column from the left, row from the bottom, 1-based.
struct Cell {
  int column;
  int row;
};

// Cell of logical position pos on a sheet of the given grid turned by 180
// degrees, for the page order the print dialog chose. pos is in
// [0, columns * rows), columns and rows are at least 1.
Cell TurnedCell(int order, int pos, int columns, int rows) {
  switch (order) {
    case 3:
      return {pos % columns + 1, pos / columns + 1};
    case 5:
      return {columns - pos / rows, pos % rows + 1};
    case 6:
      return {pos / rows + 1, pos % rows + 1};
    default:
      return {columns - pos % columns, pos / columns + 1};
  }
}

}  // namespace

// Tells the printer's procedure set whether the page is set sideways: a
// landscape job, or a 2-up or 6-up sheet (whose pages are turned), but not both.
void WritePS_PclOrientation(const JobRecord &job) {
  const int landscape = job.landscapeRequested;
  const int faces = job.nupFaces;
  const int sidewaysNup = faces == 2 || faces == 6;

  char text[2048] = {};
  std::snprintf(text, sizeof text,
                "<</PclOrientation %d>> /VTOptions /ProcSet findresource /setVToptions get exec\n",
                landscape ^ sidewaysNup);
  vWrappedFprintf(stdout, text, job.spool);
}

// Turns the page by 180 degrees about its centre when the job asks for it.
// A one-pass job is only turned here for the creators whose pages the
// printer would otherwise receive upright: cgpdftops, and 1-up pictwpstops.
void WritePSOperator_After_BeginPageSetup(const JobRecord &job, FILE *out) {
  const int spool = job.spool;
  const int rotate = job.rotate180;
  const int orient = job.orient;
  const int faces = job.nupFaces;

  if (!rotate) return;
  if (!spool && !(job.filterType == kFilterCgpdftops ||
                  (job.filterType == kFilterPictwpstops && faces == 1))) {
    return;
  }

  char text[2048] = {};
  if (IsPortraitLike(orient)) {
    std::snprintf(text, sizeof text,
                  "currentpagedevice /PageSize get aload pop translate %d rotate\n", 180);
  } else {
    // Sideways pages: width and height change places first.
    std::snprintf(text, sizeof text,
                  "currentpagedevice /PageSize get aload pop exch translate %d rotate\n", 180);
  }
  vWrappedFprintf(out ? out : stdout, text, spool);
}

// Nothing needs to precede the trailer; the scanner calls this at every
// "%%Trailer" so a model that needs it has one place to add it.
void WritePSOperator_Before_Trailer(const JobRecord &, FILE *) {}

// Replaces the placement line of one logical page of a cgpdftops N-up sheet
// by its placement on the sheet turned by 180 degrees (the page turn after
// "%%BeginPageSetup" turns the sheet itself). Unsupported face counts, and
// placements that would not be finite numbers, write nothing.
void WritePS_Nup_Rotate180_with_cgpdftops(const char *line, const JobRecord &job, FILE *out) {
  const int order = job.nupOrder;
  const int faces = job.nupFaces;
  const int orient = job.orient;
  const int spool = job.spool;
  const bool portrait = IsPortraitLike(orient);

  int columns, rows;
  switch (faces) {
    case 2: columns = 2; rows = 1; break;
    case 4: columns = 2; rows = 2; break;
    case 6: columns = portrait ? 3 : 2; rows = portrait ? 2 : 3; break;
    case 9: columns = 3; rows = 3; break;
    case 16: columns = 4; rows = 4; break;
    default:
      vDebugMessage("[Filter] - N-up placement: %d faces not supported, placement dropped\n",
                    faces);
      return;
  }

  const PaperPair size = job.paperSize;
  const PaperPair margin = job.paperMargin;
  const float w = static_cast<float>(size.a);
  const float h = static_cast<float>(size.b);

  // The page count is never negative, but a wrapped count must not give a
  // negative position either.
  int pos = job.pageCount % faces;
  if (pos < 0) pos += faces;

  float s = 0.0f, ox = 0.0f, oy = 0.0f;
  float unusedX = 0.0f, unusedY = 0.0f;
  switch (faces) {
    case 2: vConvertNupScale(&size, &margin, &s, &unusedY, &unusedX, &oy, 1); break;
    case 6: vConvertNupScale(&size, &margin, &s, &unusedY, &ox, &unusedX, 3); break;
    case 4: s = 0.48f; break;
    case 9: s = 0.32f; break;
    default: s = 0.24f; break;
  }

  float sx = s, sy = s;
  float readX = 0.0f, readY = 0.0f, readSx = 0.0f, readSy = 0.0f;
  const int got = line ? std::sscanf(line, "%f %f translate %f %f scale\n", &readX, &readY,
                                     &readSx, &readSy)
                       : 0;
  if (got >= 3) sx = readSx;
  if (got >= 4) sy = readSy;

  float tx, ty;
  if (portrait) {
    const Cell cell = TurnedCell(order, pos, columns, rows);
    tx = ox + static_cast<float>(cell.column - 1) * w * sx;
    ty = oy + static_cast<float>(cell.row - 1) * h * sy;
  } else {
    int first, second;
    if (faces == 2) {
      // The two halves of a sideways sheet change places, and the cell's
      // row steps along the sheet's width.
      const Cell cell = TurnedCell(order, 1 - pos, columns, rows);
      first = cell.row;
      second = cell.column;
    } else {
      const Cell cell = TurnedCell(order, pos, columns, rows);
      first = cell.column;
      second = cell.row;
    }
    tx = oy + static_cast<float>(first - 1) * h * sy;
    ty = ox + static_cast<float>(second - 1) * w * sx;
  }

  if (!std::isfinite(tx) || !std::isfinite(ty) || !std::isfinite(sx) || !std::isfinite(sy)) {
    vDebugMessage("[Filter] - N-up placement of position %d is not a finite number "
                  "(paper %d x %d, margins %d, %d); placement dropped\n",
                  pos, size.a, size.b, margin.a, margin.b);
    return;
  }

  char text[4096] = {};
  std::snprintf(text, sizeof text, "%.1f %.1f translate %.03f %.03f scale\n",
                static_cast<double>(tx), static_cast<double>(ty), static_cast<double>(sx),
                static_cast<double>(sy));
  vWrappedFprintf(out ? out : stdout, text, spool);
}
