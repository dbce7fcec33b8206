// Paper geometry of the job: the sheet size and printable margins the PPD
// (or a custom media size) gives, and the scale of the turned 2-up and 6-up
// layouts. Read by the setup injection and by the imposition engine.
#include "setup/PSGeometry.h"

#include <cups/ppd.h>

#include <cmath>
#include <cstdint>

#include "jobticket/JobTicketAccess.h"

namespace {

// The margin CUPS drivers assume when the PPD marks no size.
constexpr int32_t kDefaultMargin = 12;

// PPD dimensions are floats; the printer works in whole points, truncated
// toward zero. A value outside the int range (or NaN) from a broken PPD
// would make the plain conversion undefined, so it is clamped instead.
int32_t TruncatePoints(float value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0f) return INT32_MAX;
  if (value <= -2147483648.0f) return INT32_MIN;
  return static_cast<int32_t>(value);
}

// First size the PPD marks, or null.
const ppd_size_t *MarkedSize(const ppd_file_t *ppd) {
  if (!ppd || ppd->num_sizes < 1 || !ppd->sizes) return nullptr;
  for (int i = 0; i < ppd->num_sizes; ++i) {
    if (ppd->sizes[i].marked) return &ppd->sizes[i];
  }
  return nullptr;
}

// Printable extent of one side: the paper length less both margins, taken
// in 64 bits so absurd PPD values cannot overflow, then as a float.
float Printable(int32_t length, int32_t margin) {
  return static_cast<float>(static_cast<int64_t>(length) - 2 * static_cast<int64_t>(margin));
}

}  // namespace

void vGetPaperSize(ppd_file_t *ppd, int num_options, cups_option_t *options, PaperPair *size) {
  if (!size) return;
  if (bGetCustomPaperSize(num_options, options)) {
    CustomPaperSize custom = sGetCustomPaperSize(num_options, options);
    size->a = custom.width;
    size->b = custom.height;
    return;
  }
  if (const ppd_size_t *marked = MarkedSize(ppd)) {
    size->a = TruncatePoints(marked->width);
    size->b = TruncatePoints(marked->length);
  }
}

void vGetPaperMargin(ppd_file_t *ppd, int num_options, cups_option_t *options, PaperPair *margin) {
  if (!margin) return;
  if (bGetCustomPaperSize(num_options, options)) {
    if (ppd) {
      margin->a = TruncatePoints(ppd->custom_margins[0]);
      margin->b = TruncatePoints(ppd->custom_margins[1]);
    } else {
      // No PPD to ask: the same margins as for an unmarked size.
      *margin = PaperPair{kDefaultMargin, kDefaultMargin};
    }
    return;
  }
  if (const ppd_size_t *marked = MarkedSize(ppd)) {
    margin->a = TruncatePoints(marked->left);
    margin->b = TruncatePoints(marked->bottom);
    return;
  }
  *margin = PaperPair{kDefaultMargin, kDefaultMargin};
}

void vConvertNupScale(const PaperPair *size, const PaperPair *margin, float *scaleX,
                      float *scaleY, float *offsetA, float *offsetB, int mode) {
  if (!size || !margin || !scaleX || !scaleY || !offsetA || !offsetB) return;
  if (mode != 1 && mode != 3) return;

  const float w = static_cast<float>(size->a);
  const float h = static_cast<float>(size->b);
  const float mx = static_cast<float>(margin->a);
  const float my = static_cast<float>(margin->b);
  const float aw = Printable(size->a, margin->a);
  const float ah = Printable(size->b, margin->b);

  float s;
  if (mode == 1) {
    // Two pages side by side across the long edge, each turned.
    const float byWidth = (0.5f * h - 2.0f * mx) / aw;
    const float byHeight = (w - 2.0f * my) / ah;
    s = byWidth < byHeight ? byWidth : byHeight;
    *offsetB = (aw - s * ah) * 0.5f;
  } else {
    // Six pages, three along the long edge, each turned.
    const float byWidth = (h / 3.0f - 2.0f * my) / aw;
    const float byHeight = (0.5f * w - 2.0f * mx) / ah;
    s = byWidth < byHeight ? byWidth : byHeight;
    *offsetA = (h - s * w * 3.0f) * 0.5f - my;
  }
  *scaleX = s;
  *scaleY = s;
}
