// Entries of the imposition engine, called after a spooled line pass with
// the job record the pass filled. Each reads spool file A and writes the
// final stream to standard output. A failure that would lose part of the
// job (a spool file that cannot be read, an allocation, a write error on
// standard output) sets giJobFailed with an ERROR line; main then ends the
// job with exit status 1.
//
// A document Ghostscript had to give its pages first (see UnpagedDocument.h)
// is imposed as Ghostscript's document from then on, whatever converter it
// named: the first booklet phase records that in the job record for the
// second.
#pragma once

#include "job/JobRecord.h"

void vConvertInsertPage2ndPhase(const JobRecord &job);
void vConvertBooklet1stPhase(JobRecord &job);
void vConvertBooklet2ndPhase(const JobRecord &job);
void vConvertPoster(const JobRecord &job);
