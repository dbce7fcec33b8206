// A document whose pages the imposition cannot tell apart (no "%%Page:"
// comments at all, or plain PostScript that CUPS's pstops wrapped whole
// into one page) is given its pages by Ghostscript's ps2write before it is
// imposed. The rewrite takes the place of the spool file; the job's own
// lines around the document (the PJL header, the setup the line pass wrote,
// the end of the job) stay as they were.
#pragma once

#include <cups/cups.h>

#include <cstdio>
#include <string>

#include "impose/DscIndex.h"
#include "job/JobRecord.h"

// When `index` shows a document without page structure, has Ghostscript
// rewrite it into a paged document that replaces the spool file named
// spoolPath: `in` then reads the new file and `index` describes it, and 1 is
// returned. Returns 0 and leaves the file, `in` and `index` as they were
// when the document needs no rewrite (*why stays empty) or when it cannot be
// rewritten (*why says why: Ghostscript missing or failing, a form this
// rewrite does not take).
// The document is then Ghostscript's, whatever converter it named before:
// a cgpdftops or pictwpstops document without pages is paged too, and
// *pagedJob (when given) gets the job's record with the document's creator
// code set to that of a converter the filter does not know, as
// Ghostscript's documents have.
int bPageUnpagedDocument(FILE *in, PageIndex *index, int capacityHint, const char *spoolPath,
                         const JobRecord &job, std::string *why, JobRecord *pagedJob = nullptr);
