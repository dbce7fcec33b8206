// Placeholder until the N-up imposition lands.
#include "Impose.h"

void vConvertInsertPage2ndPhase(int, cups_option_t *) {}
