// Placeholder until the setup injection and converter handling land.
#include "PS_DSC.h"

void WritePS_PclOrientation(int, cups_option_t *) {}
void WritePSOperator_After_BeginPageSetup(int, cups_option_t *, FILE *) {}
void WritePSOperator_Before_Trailer(int, cups_option_t *, FILE *) {}
void WritePS_Nup_Rotate180_with_cgpdftops(const char *, int, cups_option_t *, FILE *) {}
void vSupportedMainNupAndRotate180Pictwpstops(char *, char *, int, ScanState *, int) {}
void vSupportedMainNupAndRotate180Cgpdftops(int, cups_option_t *, char *, int, ScanState *, int,
                                            int, int, int) {}
