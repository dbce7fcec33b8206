// Job-wide state of the print filter; see FilterGlobals.h.
#include "job/FilterGlobals.h"

#include "CommonUtil.h"

int gFilterType = 0;
int giCupsBanner = 0;
int gPageCount = 0;
ppd_file_t *gPpdFileT = nullptr;
int giJobFailed = 0;

bool bSystemOlderThan105() {
  return SystemOlderThan105();
}
