// Tray, media and duplex switching around cover and interleave sheets, and
// the blank page. A cover or interleave sheet comes from its own tray, on
// plain media, with its own duplex setting; afterwards the body's tray,
// media and duplex are put back.
#include "impose/CoverPages.h"

#include <cups/ppd.h>

#include <strings.h>

#include <cstring>

#include "impose/DscIndex.h"
#include "job/JobRecord.h"
#include "jobticket/JobTicketAccess.h"

namespace {

const char kNullPosition[] = "<</ManualFeed false /TraySwitch true /MediaPosition null>>setpagedevice\n";

// An option counts as true when its value begins with "True", "TRUE" or "true".
bool bOptionTrue(const JobRecord &job, const char *name) {
  const char *value = cupsGetOption(name, job.num_options, job.options);
  return value != nullptr && (strncmp(value, "True", 4) == 0 || strncmp(value, "TRUE", 4) == 0 ||
                              strncmp(value, "true", 4) == 0);
}

// The option that must be true for a sheet kind, and the tray option it reads.
bool bKindOptions(int kind, const char **gate, const char **tray) {
  switch (kind) {
    case kMediaKindRestore: *gate = nullptr; *tray = "VTInputSlot"; return true;
    case kMediaKindFrontCover: *gate = "FrontCoverPage"; *tray = "FrontCoverTray"; return true;
    case kMediaKindBackCover: *gate = "BackCoverPage"; *tray = "BackCoverTray"; return true;
    case kMediaKindInterleave: *gate = "OHPInterleave"; *tray = "OHPOpTray"; return true;
    default: return false;
  }
}

// The printer's media position for a tray name, or null.
const char *cpTrayPosition(const char *tray) {
  static const struct {
    const char *name;
    const char *position;
  } kTrays[] = {{"Tray1", "3"}, {"Tray2", "0"}, {"Tray3", "1"}, {"Tray4", "2"}, {"Tray5", "38"}};
  for (const auto &t : kTrays)
    if (strcasecmp(tray, t.name) == 0) return t.position;
  return nullptr;
}

void vWriteDuplex(FILE *out, const char *duplex, const char *tumble) {
  fprintf(out, "<</Duplex %s>>setpagedevice\n", duplex);
  fprintf(out, "<</Tumble %s>>setpagedevice\n", tumble);
}

}  // namespace

void vAddEmptyPage(FILE *out) {
  fputs("userdict/ESPsave save put\n", out);
  fputs("showpage\n", out);
  fputs("userdict /ESPsave get restore\n", out);
  fputs("gsave\n", out);
  fputs("grestore\n", out);
  fputs("ESPshowpage\n", out);
  if (out == stdout) vReportPageProgress();
}

void WritePS_MediaPosition_BottomHalf(FILE *out, const JobRecord &job, int kind) {
  const char *gate = nullptr;
  const char *trayOption = nullptr;
  if (!bKindOptions(kind, &gate, &trayOption) || (gate != nullptr && !bOptionTrue(job, gate))) {
    fputs(kNullPosition, out);
    return;
  }
  const char *tray = cupsGetOption(trayOption, job.num_options, job.options);
  if (tray == nullptr) {
    fputs(kNullPosition, out);
    return;
  }
  if (const char *position = cpTrayPosition(tray)) {
    fprintf(out,
            "currentpagedevice /InputAttributes get %s known {\n"
            "<</ManualFeed false\n"
            "\tcurrentpagedevice /orgTraySwitch 2 copy known {\n"
            "\t\tget /TraySwitch exch\n"
            "\t}{\n"
            "\t\tpop pop\n"
            "\t}ifelse\n"
            "\t/MediaPosition %s>>setpagedevice\n"
            "}if\n",
            position, position);
  } else if (strcasecmp(tray, "Manual") == 0) {
    fputs("<</ManualFeed true /MediaPosition 3>>setpagedevice\n", out);
  } else {
    fputs(kNullPosition, out);
  }
}

void WritePS_MediaPosition_BottomHalf(const JobRecord &job, int kind) {
  WritePS_MediaPosition_BottomHalf(stdout, job, kind);
}

void WritePS_MediaType_InsertPage_BottomHalf(FILE *out, const JobRecord &job, int kind) {
  switch (kind) {
    case kMediaKindFrontCover:
    case kMediaKindBackCover:
    case kMediaKindInterleave:
      fprintf(out, "<</MediaType (%s)>>setpagedevice\n", "plain");
      break;
    case kMediaKindRestore:
      if (const char *mediaType = cupsGetOption("MediaType", job.num_options, job.options))
        WritePS_MediaType_BottomHalf(out, job.ppd, mediaType);
      break;
    default:
      break;
  }
}

void WritePS_MediaType_InsertPage_BottomHalf(const JobRecord &job, int kind) {
  WritePS_MediaType_InsertPage_BottomHalf(stdout, job, kind);
}

void WritePS_MediaType_BottomHalf(FILE *out, const ppd_file_t *ppd, const char *mediaType) {
  if (ppd == nullptr || mediaType == nullptr) return;
  for (int g = 0; g < ppd->num_groups; ++g) {
    const ppd_group_t &group = ppd->groups[g];
    if (strcmp(group.name, "*Tray") != 0) continue;
    for (int o = 0; o < group.num_options; ++o) {
      const ppd_option_t &option = group.options[o];
      if (strcmp(option.keyword, "MediaType") != 0) continue;
      for (int c = 0; c < option.num_choices; ++c) {
        const ppd_choice_t &choice = option.choices[c];
        if (strcmp(choice.choice, mediaType) != 0) continue;
        if (choice.code != nullptr && strlen(choice.code) < 4095) {
          fputs(choice.code, out);
          fputc('\n', out);
        }
        break;
      }
    }
  }
}

void WritePS_MediaType_BottomHalf(const ppd_file_t *ppd, const char *mediaType) {
  WritePS_MediaType_BottomHalf(stdout, ppd, mediaType);
}

void WritePS_ModifyToCoverPageDuplex_BottomHalf(FILE *out, const JobRecord &job, int coverCode) {
  if (coverCode == kCoverSingle) {
    vWriteDuplex(out, "false", "false");
  } else if (coverCode == kCoverDouble) {
    const int orientation = job.orient;
    const bool landscape = orientation == 2 || orientation == 4;
    vWriteDuplex(out, "true", landscape ? "true" : "false");
  }
}

void WritePS_ModifyToCoverPageDuplex_BottomHalf(const JobRecord &job, int coverCode) {
  WritePS_ModifyToCoverPageDuplex_BottomHalf(stdout, job, coverCode);
}

void WritePS_RestoreDuplex_BottomHalf(FILE *out, const JobRecord &job) {
  if (job.bookletKind != 0) {
    vWriteDuplex(out, "true", "true");
    return;
  }
  switch (job.duplex) {
    case 3: vWriteDuplex(out, "true", "true"); break;
    case 2: vWriteDuplex(out, "true", "false"); break;
    default: vWriteDuplex(out, "false", "false"); break;
  }
}

void WritePS_RestoreDuplex_BottomHalf(const JobRecord &job) {
  WritePS_RestoreDuplex_BottomHalf(stdout, job);
}
