// Placeholder until the imposition engine lands.
#include "Impose.h"

void vConvertInsertPage2ndPhase(int, cups_option_t *) {}
void vConvertBooklet1stPhase(int, cups_option_t *) {}
void vConvertBooklet2ndPhase(int, cups_option_t *) {}
void vConvertPoster(int, cups_option_t *) {}
