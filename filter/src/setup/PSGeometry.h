// Paper size, printable margins and the N-up scale of rotated layouts, in
// PostScript points. Size and margins come from the job's PPD (as main
// opened and marked it) or from a "Custom." media option; the job record
// reads them once per job.
#pragma once

#include <cups/cups.h>
#include <cups/ppd.h>

#include <cstdint>

struct PaperPair {
  int32_t a;  // width, or x margin
  int32_t b;  // height, or y margin
};

// Fills (width, height): the custom media size when "media" names one,
// otherwise the first size ppd marks truncated toward zero. Leaves the pair
// as the caller set it when the PPD marks no size.
void vGetPaperSize(ppd_file_t *ppd, int num_options, cups_option_t *options, PaperPair *size);
// Fills (x margin, y margin): the PPD's custom margins (left, bottom) for a
// custom media size, otherwise the marked size's left and bottom, truncated;
// (12, 12) when no size is marked.
void vGetPaperMargin(ppd_file_t *ppd, int num_options, cups_option_t *options, PaperPair *margin);
// Largest scale at which a logical page fits its cell on a 2-up (mode 1) or
// 6-up (mode 3) sheet whose pages are turned by 90 degrees, computed in
// 32-bit floats. Mode 1 sets both scales and offsetB, mode 3 both scales and
// offsetA; other modes change nothing. Margins as large as half the paper
// make the results infinite or NaN: callers that write them check first.
void vConvertNupScale(const PaperPair *size, const PaperPair *margin, float *scaleX,
                      float *scaleY, float *offsetA, float *offsetB, int mode);
