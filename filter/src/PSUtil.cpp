// Placeholder line reader until the spine lands.
#include "PSUtil.h"

char *psgets(char *, int *length, FILE *) {
  if (length) *length = 0;
  return nullptr;
}
int bJudgementPsDscEntries(const char *, char *, const PsPjlTables *) { return 0; }
int iWritePS_DscEntry(int, cups_option_s *, FILE *, const char *, PsPjlTables *) { return -1; }
