// Placeholder sinks until the spine lands.
#include "SpoolUtil.h"

char *cpSpoolFileAwithPID = nullptr;
char *cpSpoolFileBwithPID = nullptr;
int giSpoolHandle = -1;

void vCreateSpoolFileName() {}
void vCreateSpoolFile() {}
void vCloseSpoolFile() {}
void vWrappedFwrite(const void *data, size_t size, size_t count, FILE *stream, int) {
  fwrite(data, size, count, stream);
}
void vWrappedFprintf(FILE *stream, const char *text, int) { fputs(text, stream); }
