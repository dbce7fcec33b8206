// Per-sheet tray, media and duplex switching around cover and interleave
// sheets, and the blank page. The imposition runs write these to standard
// output; each writer also has a form taking the stream, for tests.
#pragma once

#include <cups/cups.h>

#include <cstdio>

#include "job/JobRecord.h"

// Media kinds: which sheet the following tray and media selection is for.
enum MediaKind : int {
  kMediaKindRestore = 0,     // back to the body's tray and media
  kMediaKindFrontCover = 1,
  kMediaKindBackCover = 2,
  kMediaKindInterleave = 4,  // transparency interleave sheet
};

// Cover codes of iGetFrontCoverPage / iGetBackCoverPage.
enum CoverCode : int {
  kCoverNone = 0,
  kCoverBlank = 1,
  kCoverSingle = 2,
  kCoverDouble = 3,
};

// Writes one blank page (no "%%Page:" comment) and reports it to CUPS when
// out is standard output.
void vAddEmptyPage(FILE *out);
// Selects the tray for the coming sheets of the given kind.
void WritePS_MediaPosition_BottomHalf(const JobRecord &job, int kind);
void WritePS_MediaPosition_BottomHalf(FILE *out, const JobRecord &job, int kind);
// Selects the media type for the coming sheets of the given kind.
void WritePS_MediaType_InsertPage_BottomHalf(const JobRecord &job, int kind);
void WritePS_MediaType_InsertPage_BottomHalf(FILE *out, const JobRecord &job, int kind);
// Writes the PPD's code for a media type (group "*Tray", option "MediaType").
void WritePS_MediaType_BottomHalf(const ppd_file_t *ppd, const char *mediaType);
void WritePS_MediaType_BottomHalf(FILE *out, const ppd_file_t *ppd, const char *mediaType);
// Sets duplex and tumble for a printed cover.
void WritePS_ModifyToCoverPageDuplex_BottomHalf(const JobRecord &job, int coverCode);
void WritePS_ModifyToCoverPageDuplex_BottomHalf(FILE *out, const JobRecord &job, int coverCode);
// Puts the job's own duplex and tumble back.
void WritePS_RestoreDuplex_BottomHalf(const JobRecord &job);
void WritePS_RestoreDuplex_BottomHalf(FILE *out, const JobRecord &job);
