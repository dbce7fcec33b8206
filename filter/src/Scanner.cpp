// Placeholder scanner until the spine lands.
#include "Scanner.h"

void vSupportedMainNotBinaryMode(char *, char *, char *, char **, int, int, int, int,
                                 cups_option_t *, int *, int, int, int, int, ScanState *) {}
int bSupportedMainSetFilterName(const char *) { return 0; }
