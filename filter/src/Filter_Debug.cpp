// Placeholder diagnostics until the spine lands.
#include "Filter_Debug.h"

void vDebugMessage(const char *, ...) {}
void vErrorMessage(const char *, ...) {}
