// Paper size, printable margins and the N-up scale of rotated layouts.
#pragma once

#include <cups/cups.h>

#include <cstdint>

struct PaperPair {
  int32_t a;  // width, or x margin
  int32_t b;  // height, or y margin
};

void vGetPaperSize(int num_options, cups_option_t *options, PaperPair *size);
void vGetPaperMargin(int num_options, cups_option_t *options, PaperPair *margin);
void vConvertNupScale(const PaperPair *size, const PaperPair *margin, float *scaleX,
                      float *scaleY, float *offsetA, float *offsetB, int mode);
