// Placeholder until the paper geometry lands.
#include "PSGeometry.h"

void vGetPaperSize(int, cups_option_t *, PaperPair *) {}
void vGetPaperMargin(int, cups_option_t *, PaperPair *margin) {
  if (margin) *margin = PaperPair{12, 12};
}
void vConvertNupScale(const PaperPair *, const PaperPair *, float *, float *, float *, float *,
                      int) {}
