// Placeholder until the booklet imposition lands.
#include "Impose.h"

void vConvertBooklet1stPhase(int, cups_option_t *) {}
void vConvertBooklet2ndPhase(int, cups_option_t *) {}
