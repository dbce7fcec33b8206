// Turns the IPP attributes of a job into the option words psToVTOrbPS reads
// (the same keywords as the Q610 PPD), and lists what the printer offers.
#pragma once

#include <cups/cups.h>

#include <string>
#include <utility>
#include <vector>

namespace vtpapp {

// One option for the filter: keyword and value ("VTDuplex", "BookletL").
using FilterOption = std::pair<std::string, std::string>;

// What a job asks for, in filter words, plus what the converter needs.
struct JobMapping {
  std::vector<FilterOption> options;  // in the order they are written
  bool fitToPage = false;             // print-scaling other than none: scale the PDF to the page
  bool expand = false;                // print-scaling fit/fill: small pages are enlarged too
  std::string pwgSize;                // the paper's PWG name, empty when unknown
  std::string error;                  // not empty: the job cannot be printed as asked
};

// The job's attributes (job-template and the few operation attributes
// the printer keeps with the job), with the printer's defaults in
// `printerDefaults` for what the job leaves out (may be nullptr).
JobMapping MapJobAttributes(ipp_t *job, ipp_t *printerDefaults, const char *userName,
                            const char *jobName);

// The options as one CUPS option string for argv[5]: NAME=VALUE separated by
// blanks, values with blanks or quotes quoted.
std::string JoinFilterOptions(const std::vector<FilterOption> &options);

// PWG media size name -> the PPD's PageSize keyword, or nullptr.
const char *PpdPageSizeForPwg(const char *pwgName);
// IPP media-source -> the PPD's tray keyword (VTInputSlot, cover trays), or nullptr.
const char *PpdTrayForSource(const char *source);
// IPP media-type -> the PPD's MediaType keyword, or nullptr.
const char *PpdMediaTypeForType(const char *type);

// Supported values, as the driver offers them.
const std::vector<const char *> &SupportedMedia();    // PWG names
const std::vector<const char *> &SupportedSources();  // media-source keywords
const std::vector<const char *> &SupportedTypes();    // media-type keywords
const std::vector<const char *> &SupportedPosters();  // vantora-poster keywords

constexpr int kSecurePinMin = 4;  // octets of a job-password the printer accepts
constexpr int kSecurePinMax = 8;
constexpr int kStampTextMax = 63;  // octets of vantora-stamp-text

// Checks the attributes of a job request the framework does not check itself
// (job-password, covers, inserts, imposition, vendor attributes). Returns an
// empty string when they are acceptable, otherwise the reason; `badName`
// names the offending attribute, `badAttr` (may be nullptr) points to it.
std::string ValidateExtraAttributes(ipp_t *request, std::string *badName,
                                    ipp_attribute_t **badAttr = nullptr);

// Checks a printer default of one of those attributes ("vantora-poster-default"
// for "vantora-poster") by the same rules as the job's own value: PAPPL stores
// whatever a client sets as a vendor attribute's default. Empty when usable,
// otherwise the reason.
std::string ValidatePrinterDefault(ipp_attribute_t *def);

}  // namespace vtpapp
