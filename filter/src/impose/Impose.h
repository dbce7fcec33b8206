// Entries of the imposition engine, called after a spooled line pass. Each
// reads spool file A and writes the final stream to standard output.
// A failure that would lose part of the job (a spool file that cannot be
// read, an allocation, a write error on standard output) sets giJobFailed
// with an ERROR line; main then ends the job with exit status 1.
#pragma once

#include <cups/cups.h>

void vConvertInsertPage2ndPhase(int num_options, cups_option_t *options);
void vConvertBooklet1stPhase(int num_options, cups_option_t *options);
void vConvertBooklet2ndPhase(int num_options, cups_option_t *options);
void vConvertPoster(int num_options, cups_option_t *options);
