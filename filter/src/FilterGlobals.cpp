// Placeholder globals until the filter spine lands.
#include "FilterGlobals.h"

int gFilterType = 0;
int giCupsBanner = 0;
int gPageCount = 0;
ppd_file_t *gPpdFileT = nullptr;
int giJobFailed = 0;

bool bSystemOlderThan105() { return false; }
