// Placeholder accessors (every option absent) until the spine lands.
#include "JobTicketAccess.h"

int bGetRotate180(int, cups_option_t *) { return 0; }
int bGetLayoutNup(int, cups_option_t *) { return 0; }
int iGetNupOrder(int, cups_option_t *) { return 1; }
int iGetNupFaces(int, cups_option_t *) { return 1; }
int iGetOrient(int, cups_option_t *) { return 1; }
int iGetBooklet(int, cups_option_t *) { return 0; }
int iGetPoster(int, cups_option_t *) { return 0; }
int iGetFrontCoverPage(int, cups_option_t *) { return 0; }
int iGetBackCoverPage(int, cups_option_t *) { return 0; }
int iGetTransparencyInterleave(int, cups_option_t *) { return 0; }
int iGetBeginPages(int, cups_option_t *) { return 0; }
int iGetDuplex(int, cups_option_t *) { return 1; }
int iGetPMBorderLine(int, cups_option_t *) { return 0; }
int bGetBorderLine(int, cups_option_t *) { return 0; }
int bGetWakeOnLan(int, cups_option_t *) { return 0; }
int bGetCustomPaperSize(int, cups_option_t *) { return 0; }
CustomPaperSize sGetCustomPaperSize(int, cups_option_t *) { return {0, 0}; }
int bSpoolSetting(int, cups_option_t *) { return 0; }
int bNeedToAddEmptyPageWithBackCoverPage(int, cups_option_t *) { return 0; }
