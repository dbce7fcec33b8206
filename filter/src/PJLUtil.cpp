// Placeholder until the PJL header writer lands.
#include "PJLUtil.h"

void WritePJLHeader_TypeGeneral(char **, int, cups_option_t *, FILE *, PsPjlTables *) {}

int iCreatePjlDetail(PsPjlTables *, int, const char *, SyntaxElement *, int, cups_option_t *,
                     FILE *) {
  return -1;
}
