// The job record; see JobRecord.h.
#include "job/JobRecord.h"

#include <cstring>

#include "CommonUtil.h"
#include "jobticket/JobTicketAccess.h"

void vInitScanState(ScanState *state) {
  std::memset(state, 0, sizeof *state);
  state->bWriteLine = 1;
  state->bPageMarkNeeded = 1;
  state->bFeatureDone = 1;
}

void vReadJobRecord(JobRecord *job, char **argv, int num_options, cups_option_t *options,
                    ppd_file_t *ppd, PsPjlTables *tables) {
  *job = JobRecord{};
  job->argv = argv;
  job->num_options = num_options;
  job->options = options;
  job->ppd = ppd;
  job->tables = tables;
  job->older = SystemOlderThan105();

  job->spool = bSpoolSetting(num_options, options);
  job->layoutNup = job->older ? bGetLayoutNup(num_options, options) : 0;
  job->rotate180 = bGetRotate180(num_options, options);
  job->bookletKind = iGetBooklet(num_options, options);
  job->posterKind = iGetPoster(num_options, options);
  job->borderType = iGetPMBorderLine(num_options, options);
  job->borderLine = bGetBorderLine(num_options, options);
  job->nupFaces = iGetNupFaces(num_options, options);
  job->nupOrder = iGetNupOrder(num_options, options);
  job->orient = iGetOrient(num_options, options);
  const char *requested = cupsGetOption("orientation-requested", num_options, options);
  job->landscapeRequested =
      requested && (std::strcmp(requested, "4") == 0 || std::strcmp(requested, "5") == 0);
  for (const char *name :
       {"VTDocumentOrientation",
        "com.apple.print.subTicket.page_format_ticket..d.com.apple.print.PageFormat.PMOrientation..n."}) {
    if (cupsGetOption(name, num_options, options)) job->macOrientationGiven = 1;
  }
  job->orientationRequested = requested != nullptr;
  job->frontCover = iGetFrontCoverPage(num_options, options);
  job->backCover = iGetBackCoverPage(num_options, options);
  job->interleave = iGetTransparencyInterleave(num_options, options);
  job->beginPages = iGetBeginPages(num_options, options);
  job->duplex = iGetDuplex(num_options, options);
  job->emptyPageWithBackCover = bNeedToAddEmptyPageWithBackCoverPage(num_options, options);

  vGetPaperSize(ppd, num_options, options, &job->paperSize);
  vGetPaperMargin(ppd, num_options, options, &job->paperMargin);

  vInitScanState(&job->scan);
}
