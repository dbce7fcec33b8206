// Typed access to the job's CUPS options, with the printer's defaults.
#pragma once

#include <cups/cups.h>

#include <cstdint>

struct CustomPaperSize {
  int32_t width;
  int32_t height;
};

int bGetRotate180(int num_options, cups_option_t *options);
int bGetLayoutNup(int num_options, cups_option_t *options);
int iGetNupOrder(int num_options, cups_option_t *options);
int iGetNupFaces(int num_options, cups_option_t *options);
int iGetOrient(int num_options, cups_option_t *options);
int iGetBooklet(int num_options, cups_option_t *options);
int iGetPoster(int num_options, cups_option_t *options);
int iGetFrontCoverPage(int num_options, cups_option_t *options);
int iGetBackCoverPage(int num_options, cups_option_t *options);
int iGetTransparencyInterleave(int num_options, cups_option_t *options);
int iGetBeginPages(int num_options, cups_option_t *options);
int iGetDuplex(int num_options, cups_option_t *options);
int iGetPMBorderLine(int num_options, cups_option_t *options);
int bGetBorderLine(int num_options, cups_option_t *options);
int bGetWakeOnLan(int num_options, cups_option_t *options);
int bGetCustomPaperSize(int num_options, cups_option_t *options);
CustomPaperSize sGetCustomPaperSize(int num_options, cups_option_t *options);
int bSpoolSetting(int num_options, cups_option_t *options);
int bNeedToAddEmptyPageWithBackCoverPage(int num_options, cups_option_t *options);
