// Placeholder until the poster imposition lands.
#include "Impose.h"

void vConvertPoster(int, cups_option_t *) {}
