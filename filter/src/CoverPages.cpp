// Tray, media and duplex switching around covers (being filled in).
#include "CoverPages.h"

void vAddEmptyPage(FILE *) {}
void WritePS_MediaPosition_BottomHalf(int, cups_option_t *, int) {}
void WritePS_MediaPosition_BottomHalf(FILE *, int, cups_option_t *, int) {}
void WritePS_MediaType_InsertPage_BottomHalf(int, cups_option_t *, int) {}
void WritePS_MediaType_InsertPage_BottomHalf(FILE *, int, cups_option_t *, int) {}
void WritePS_MediaType_BottomHalf(const char *) {}
void WritePS_MediaType_BottomHalf(FILE *, const char *) {}
void WritePS_ModifyToCoverPageDuplex_BottomHalf(int, cups_option_t *, int) {}
void WritePS_ModifyToCoverPageDuplex_BottomHalf(FILE *, int, cups_option_t *, int) {}
void WritePS_RestoreDuplex_BottomHalf(int, cups_option_t *) {}
void WritePS_RestoreDuplex_BottomHalf(FILE *, int, cups_option_t *) {}
