// N-up imposition (being filled in).
#include "ImposeNup.h"

#include "Impose.h"

void vConvertInsertPage2ndPhase(int, cups_option_t *) {}
void vRearrangeNupWithoutBooklet(PageInfo *, FILE *, FILE *, int, cups_option_t *) {}
void vRearrangeNupWithoutBookletEveryCirculation(int, cups_option_t *, FILE *, int, int, PageInfo *,
                                                 int, FILE *, const int64_t *, int, int) {}
void vPrintLogicalPage(PageInfo *, int, int, int, int, FILE *, FILE *, int, cups_option_t *,
                       const int64_t *, int *, int *, int *, int *, int *, float, float) {}
void vCreateOffsetWithNup(float *tx, float *ty, float *scale, int, int, cups_option_t *) {
  *tx = *ty = 0.0f;
  *scale = 1.0f;
}
void vCreateOffsetWithNupR180(float *tx, float *ty, float *scale, int, int, cups_option_t *) {
  *tx = *ty = 0.0f;
  *scale = 1.0f;
}
void vWriteFrame(FILE *, int, int, int, float, float) {}
