// Output sinks of the line pass: standard output for a one-pass job, spool
// file A when the job is re-imposed afterwards. Also the spool file names.
#pragma once

#include <cstddef>
#include <cstdio>

extern char *cpSpoolFileAwithPID;  // path of spool file A, or null
extern char *cpSpoolFileBwithPID;  // path of spool file B, or null
extern int giSpoolHandle;          // descriptor of spool file A, or -1

void vCreateSpoolFileName();
void vCreateSpoolFile();
void vCloseSpoolFile();
void vWrappedFwrite(const void *data, size_t size, size_t count, FILE *stream, int spool);
void vWrappedFprintf(FILE *stream, const char *text, int spool);
