#include "JobOptions.h"

#include <cstdio>
#include <cstring>

namespace vtpapp {
namespace {

struct NamePair {
  const char *ipp;
  const char *ppd;
};

// The PPD's page sizes by their PWG names.
constexpr NamePair kMedia[] = {
    {"na_letter_8.5x11in", "Letter"},
    {"na_legal_8.5x14in", "Legal"},
    {"na_executive_7.25x10.5in", "Executive"},
    {"na_ledger_11x17in", "Tabloid"},
    {"iso_a3_297x420mm", "A3"},
    {"iso_a4_210x297mm", "A4"},
    {"iso_a5_148x210mm", "A5"},
    {"iso_a6_105x148mm", "A6"},
    {"jis_b5_182x257mm", "B5"},
    {"na_number-10_4.125x9.5in", "Env10"},
    {"iso_dl_110x220mm", "EnvDL"},
};

constexpr NamePair kSources[] = {
    {"auto", "Auto"},    {"tray-1", "Tray1"}, {"tray-2", "Tray2"},  {"tray-3", "Tray3"},
    {"tray-4", "Tray4"}, {"tray-5", "Tray5"}, {"manual", "Manual"},
};

constexpr NamePair kTypes[] = {
    {"stationery", "Plain"},
    {"stationery-recycled", "Recycled"},
    {"cardstock", "Thick"},
    {"stationery-lightweight", "Thin"},
    {"labels", "Labels"},
    {"envelope", "Envelope"},
    {"transparency", "Transparency"},
};

constexpr NamePair kPosters[] = {
    {"none", "Off"}, {"1x2", "1x2"}, {"2x2", "2x2"}, {"3x3", "3x3"}, {"4x4", "4x4"},
};

// cover-type -> the filter's cover kind.
constexpr NamePair kCoverTypes[] = {
    {"print-none", "BlankPrinter"},
    {"print-front", "PrintedSingle"},
    {"print-both", "PrintedDouble"},
};

template <size_t N>
const char *Lookup(const NamePair (&table)[N], const char *ipp) {
  if (!ipp) return nullptr;
  for (const auto &p : table)
    if (!std::strcmp(p.ipp, ipp)) return p.ppd;
  return nullptr;
}

template <size_t N>
std::vector<const char *> Names(const NamePair (&table)[N]) {
  std::vector<const char *> v;
  for (const auto &p : table) v.push_back(p.ipp);
  return v;
}

// The attribute from the job, else from the printer's defaults.
ipp_attribute_t *Find(ipp_t *job, ipp_t *defaults, const char *name) {
  ipp_attribute_t *a = job ? ippFindAttribute(job, name, IPP_TAG_ZERO) : nullptr;
  if (!a && defaults) a = ippFindAttribute(defaults, name, IPP_TAG_ZERO);
  return a;
}

const char *Keyword(ipp_attribute_t *a) {
  if (!a) return nullptr;
  ipp_tag_t t = ippGetValueTag(a);
  if (t != IPP_TAG_KEYWORD && t != IPP_TAG_NAME && t != IPP_TAG_NAMELANG && t != IPP_TAG_TEXT &&
      t != IPP_TAG_TEXTLANG)
    return nullptr;
  return ippGetString(a, 0, nullptr);
}

const char *MemberKeyword(ipp_t *col, const char *name) {
  return col ? Keyword(ippFindAttribute(col, name, IPP_TAG_ZERO)) : nullptr;
}

ipp_t *MemberCollection(ipp_t *col, const char *name) {
  if (!col) return nullptr;
  ipp_attribute_t *a = ippFindAttribute(col, name, IPP_TAG_BEGIN_COLLECTION);
  return a ? ippGetCollection(a, 0) : nullptr;
}

// The PWG size name of a media-col: media-size-name, or the name of the size
// its dimensions give.
const char *SizeNameOfMediaCol(ipp_t *mediaCol) {
  if (const char *n = MemberKeyword(mediaCol, "media-size-name")) return n;
  ipp_t *size = MemberCollection(mediaCol, "media-size");
  if (!size) return nullptr;
  ipp_attribute_t *x = ippFindAttribute(size, "x-dimension", IPP_TAG_INTEGER);
  ipp_attribute_t *y = ippFindAttribute(size, "y-dimension", IPP_TAG_INTEGER);
  if (!x || !y) return nullptr;
  pwg_media_t *pwg = pwgMediaForSize(ippGetInteger(x, 0), ippGetInteger(y, 0));
  return pwg ? pwg->pwg : nullptr;
}

// The tray of a cover or insert: the media-source of its media-col.
const char *TrayOf(ipp_t *col, std::string &error, const char *what) {
  const char *source = MemberKeyword(MemberCollection(col, "media-col"), "media-source");
  if (!source) return "Auto";
  const char *tray = PpdTrayForSource(source);
  if (!tray) error = std::string(what) + ": unsupported media-source '" + source + "'";
  return tray ? tray : "Auto";
}

std::string Hex(const unsigned char *data, int len) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (int i = 0; i < len; ++i) {
    s += digits[data[i] >> 4];
    s += digits[data[i] & 15];
  }
  return s;
}

}  // namespace

const char *PpdPageSizeForPwg(const char *pwgName) { return Lookup(kMedia, pwgName); }
const char *PpdTrayForSource(const char *source) { return Lookup(kSources, source); }
const char *PpdMediaTypeForType(const char *type) { return Lookup(kTypes, type); }

const std::vector<const char *> &SupportedMedia() {
  static const auto v = Names(kMedia);
  return v;
}
const std::vector<const char *> &SupportedSources() {
  static const auto v = Names(kSources);
  return v;
}
const std::vector<const char *> &SupportedTypes() {
  static const auto v = Names(kTypes);
  return v;
}
const std::vector<const char *> &SupportedPosters() {
  static const auto v = Names(kPosters);
  return v;
}

JobMapping MapJobAttributes(ipp_t *job, ipp_t *defaults, const char *userName,
                            const char *jobName) {
  JobMapping m;
  auto add = [&m](const char *k, std::string v) { m.options.emplace_back(k, std::move(v)); };
  auto fail = [&m](std::string why) {
    if (m.error.empty()) m.error = std::move(why);
  };

  // Who and what: the PJL header's user and job name.
  if (userName && *userName) add("jp.vantora.printers.loginName", userName);
  if (jobName && *jobName) add("com.apple.print.JobInfo.PMJobName", jobName);

  // Paper: media-col wins over media, as IPP says.
  ipp_attribute_t *mediaColAttr = Find(job, nullptr, "media-col");
  ipp_t *mediaCol = mediaColAttr ? ippGetCollection(mediaColAttr, 0) : nullptr;
  if (!mediaCol && !Find(job, nullptr, "media")) {
    ipp_attribute_t *d = Find(nullptr, defaults, "media-col-default");
    mediaCol = d ? ippGetCollection(d, 0) : nullptr;
  }
  const char *sizeName = mediaCol ? SizeNameOfMediaCol(mediaCol) : nullptr;
  if (!sizeName) sizeName = Keyword(Find(job, defaults, "media"));
  // A media-col with only a tray or a type (CUPS's driverless queues send
  // such) leaves the size at the printer's default.
  ipp_attribute_t *defaultCol = Find(nullptr, defaults, "media-col-default");
  if (!sizeName && defaultCol) sizeName = SizeNameOfMediaCol(ippGetCollection(defaultCol, 0));
  if (sizeName) {
    if (const char *ppd = PpdPageSizeForPwg(sizeName)) {
      add("PageSize", ppd);
      m.pwgSize = sizeName;
    } else
      fail(std::string("unsupported media '") + sizeName + "'");
  }
  const char *source = MemberKeyword(mediaCol, "media-source");
  if (!source) source = Keyword(Find(job, defaults, "media-source"));
  if (source) {
    if (const char *tray = PpdTrayForSource(source))
      add("VTInputSlot", tray);
    else
      fail(std::string("unsupported media-source '") + source + "'");
  }
  const char *type = MemberKeyword(mediaCol, "media-type");
  if (!type) type = Keyword(Find(job, defaults, "media-type"));
  if (type) {
    if (const char *t = PpdMediaTypeForType(type))
      add("MediaType", t);
    else
      fail(std::string("unsupported media-type '") + type + "'");
  }

  // Sides and booklet: a booklet is always two-sided, bound on the left.
  const char *sides = Keyword(Find(job, defaults, "sides"));
  const char *imposition = Keyword(Find(job, defaults, "imposition-template"));
  if (imposition && !std::strcmp(imposition, "booklet")) {
    add("VTDuplex", "BookletL");
    add("Binding", "LongEdge");
  } else if (imposition && std::strcmp(imposition, "none")) {
    fail(std::string("unsupported imposition-template '") + imposition + "'");
  } else if (sides && !std::strcmp(sides, "two-sided-long-edge")) {
    add("VTDuplex", "Duplex");
    add("Binding", "LongEdge");
  } else if (sides && !std::strcmp(sides, "two-sided-short-edge")) {
    add("VTDuplex", "Duplex");
    add("Binding", "ShortEdge");
  } else {
    add("VTDuplex", "Single");
  }

  // Orientation: the filter turns landscape and the reversed ones itself.
  if (ipp_attribute_t *o = Find(job, defaults, "orientation-requested")) {
    int v = ippGetInteger(o, 0);
    if (v >= IPP_ORIENT_LANDSCAPE && v <= IPP_ORIENT_REVERSE_PORTRAIT)
      add("orientation-requested", std::to_string(v));
  }

  if (const char *scaling = Keyword(Find(job, defaults, "print-scaling"))) {
    m.fitToPage = std::strcmp(scaling, "none") != 0;
    m.expand = !std::strcmp(scaling, "fit") || !std::strcmp(scaling, "fill");
  }

  // Covers: cover-type says blank or printed, media-col.media-source the tray.
  struct Cover {
    const char *attr, *page, *option, *tray;
  };
  for (const Cover &c :
       {Cover{"cover-front", "FrontCoverPage", "FrontCoverOption", "FrontCoverTray"},
        Cover{"cover-back", "BackCoverPage", "BackCoverOption", "BackCoverTray"}}) {
    ipp_attribute_t *a = Find(job, nullptr, c.attr);
    if (!a || ippGetValueTag(a) != IPP_TAG_BEGIN_COLLECTION) continue;
    ipp_t *col = ippGetCollection(a, 0);
    const char *coverType = MemberKeyword(col, "cover-type");
    if (!coverType || !std::strcmp(coverType, "no-cover")) continue;
    const char *kind = Lookup(kCoverTypes, coverType);
    if (!kind) {
      fail(std::string(c.attr) + ": unsupported cover-type '" + coverType + "'");
      continue;
    }
    std::string err;
    const char *tray = TrayOf(col, err, c.attr);
    if (!err.empty()) fail(err);
    add(c.page, "True");
    add(c.option, kind);
    add(c.tray, tray);
  }

  // Interleave: an insert-sheet asks for a blank sheet after every printed sheet.
  if (ipp_attribute_t *a = Find(job, nullptr, "insert-sheet");
      a && ippGetValueTag(a) == IPP_TAG_BEGIN_COLLECTION) {
    std::string err;
    const char *tray = TrayOf(ippGetCollection(a, 0), err, "insert-sheet");
    if (!err.empty()) fail(err);
    add("OHPInterleave", "True");
    add("OHPInterOption", "BlankPrinter");
    add("OHPOpTray", tray);
  }

  // What IPP has no word for.
  if (const char *poster = Keyword(Find(job, defaults, "vantora-poster"))) {
    if (const char *comb = Lookup(kPosters, poster))
      add("Combination", comb);
    else
      fail(std::string("unsupported vantora-poster '") + poster + "'");
  }
  if (ipp_attribute_t *a = Find(job, defaults, "vantora-cut-lines");
      a && ippGetValueTag(a) == IPP_TAG_BOOLEAN && ippGetBoolean(a, 0))
    add("VTBorderLine", "True");
  if (const char *stamp = Keyword(Find(job, defaults, "vantora-stamp-text")); stamp && *stamp) {
    add("JimonTextSet", "True");
    add("JimonCharacter", stamp);
  }

  // Secure print: the printer keeps the job until the PIN is typed at it.
  ipp_attribute_t *pw = Find(job, nullptr, "job-password");
  if (pw && ippGetValueTag(pw) == IPP_TAG_STRING) {
    int len = 0;
    const auto *data = static_cast<const unsigned char *>(ippGetOctetString(pw, 0, &len));
    add("OutputMethod", "Secure");
    add("VTSecurePIN", Hex(data, len));
  } else {
    add("OutputMethod", "Normal");
  }
  return m;
}

std::string JoinFilterOptions(const std::vector<FilterOption> &options) {
  std::string s;
  for (const auto &[k, v] : options) {
    if (!s.empty()) s += ' ';
    s += k;
    s += '=';
    bool quote = v.empty() || v.find_first_of(" \t\"'\\") != std::string::npos;
    if (!quote) {
      s += v;
      continue;
    }
    s += '"';
    for (char ch : v) {
      if (ch == '"' || ch == '\\') s += '\\';
      s += ch;
    }
    s += '"';
  }
  return s;
}

namespace {

bool IsKeywordIn(ipp_attribute_t *a, const std::vector<const char *> &allowed) {
  if (ippGetValueTag(a) != IPP_TAG_KEYWORD || ippGetCount(a) != 1) return false;
  const char *v = ippGetString(a, 0, nullptr);
  for (const char *x : allowed)
    if (!std::strcmp(x, v)) return true;
  return false;
}

// A cover-front/cover-back/insert-sheet value: one small collection whose
// members have the expected types and supported values.
std::string CheckSheetCollection(ipp_attribute_t *a, bool isCover) {
  if (ippGetValueTag(a) != IPP_TAG_BEGIN_COLLECTION || ippGetCount(a) != 1)
    return "must be one collection";
  ipp_t *col = ippGetCollection(a, 0);
  int members = 0;
  for (ipp_attribute_t *m = ippFirstAttribute(col); m; m = ippNextAttribute(col)) {
    if (++members > 8) return "too many members";
    const char *name = ippGetName(m);
    if (!name) return "unnamed member";
    if (isCover && !std::strcmp(name, "cover-type")) {
      if (!IsKeywordIn(m, {"no-cover", "print-none", "print-front", "print-both"}))
        return "unsupported cover-type";
    } else if (!isCover && !std::strcmp(name, "insert-count")) {
      if (ippGetValueTag(m) != IPP_TAG_INTEGER || ippGetInteger(m, 0) < 0 ||
          ippGetInteger(m, 0) > 1)
        return "insert-count must be 0 or 1";
    } else if (!isCover && !std::strcmp(name, "insert-after-page-number")) {
      if (ippGetValueTag(m) != IPP_TAG_INTEGER || ippGetInteger(m, 0) != 0)
        return "only an insert after every sheet (insert-after-page-number 0) is supported";
    } else if (!std::strcmp(name, "media")) {
      if (!IsKeywordIn(m, SupportedMedia())) return "unsupported media";
    } else if (!std::strcmp(name, "media-col")) {
      if (ippGetValueTag(m) != IPP_TAG_BEGIN_COLLECTION || ippGetCount(m) != 1)
        return "media-col must be one collection";
      ipp_t *mc = ippGetCollection(m, 0);
      int n = 0;
      for (ipp_attribute_t *x = ippFirstAttribute(mc); x; x = ippNextAttribute(mc)) {
        if (++n > 16) return "media-col has too many members";
        const char *xn = ippGetName(x);
        if (xn && !std::strcmp(xn, "media-source") && !IsKeywordIn(x, SupportedSources()))
          return "unsupported media-source";
        if (xn && !std::strcmp(xn, "media-type") && !IsKeywordIn(x, SupportedTypes()))
          return "unsupported media-type";
        if (xn && !std::strcmp(xn, "media-size-name") && !IsKeywordIn(x, SupportedMedia()))
          return "unsupported media-size-name";
      }
    } else {
      return std::string("unsupported member '") + name + "'";
    }
  }
  return {};
}

}  // namespace

std::string ValidateExtraAttributes(ipp_t *request, std::string *badName,
                                    ipp_attribute_t **badAttr) {
  ipp_attribute_t *a = nullptr;
  auto bad = [badName, badAttr, &a](const char *name, std::string why) {
    if (badName) *badName = name;
    if (badAttr) *badAttr = a;
    return std::string(name) + ": " + why;
  };
  for (a = ippFirstAttribute(request); a; a = ippNextAttribute(request)) {
    const char *name = ippGetName(a);
    if (!name) continue;
    if (!std::strcmp(name, "job-password")) {
      int len = 0;
      if (ippGetValueTag(a) != IPP_TAG_STRING || ippGetCount(a) != 1)
        return bad(name, "must be one octetString");
      const auto *data = static_cast<const unsigned char *>(ippGetOctetString(a, 0, &len));
      if (len < kSecurePinMin || len > kSecurePinMax)
        return bad(name, "must be " + std::to_string(kSecurePinMin) + " to " +
                             std::to_string(kSecurePinMax) + " digits");
      for (int i = 0; i < len; ++i)
        if (data[i] < '0' || data[i] > '9') return bad(name, "must be digits");
    } else if (!std::strcmp(name, "job-password-encryption")) {
      if (!IsKeywordIn(a, {"none"})) return bad(name, "only 'none' is supported");
    } else if (!std::strcmp(name, "cover-front") || !std::strcmp(name, "cover-back")) {
      if (std::string why = CheckSheetCollection(a, true); !why.empty()) return bad(name, why);
    } else if (!std::strcmp(name, "insert-sheet")) {
      if (std::string why = CheckSheetCollection(a, false); !why.empty()) return bad(name, why);
    } else if (!std::strcmp(name, "media-col")) {
      // PAPPL reads the first of each member; a collection that repeats
      // members or carries hundreds of them is not a job to guess at.
      if (ippGetValueTag(a) != IPP_TAG_BEGIN_COLLECTION || ippGetCount(a) != 1)
        return bad(name, "must be one collection");
      ipp_t *mc = ippGetCollection(a, 0);
      std::vector<std::string> seen;
      for (ipp_attribute_t *m = ippFirstAttribute(mc); m; m = ippNextAttribute(mc)) {
        const char *mn = ippGetName(m);
        if (seen.size() >= 16) return bad(name, "too many members");
        for (const auto &x : seen)
          if (mn && x == mn) return bad(name, std::string("member '") + mn + "' given twice");
        seen.emplace_back(mn ? mn : "");
      }
    } else if (!std::strcmp(name, "imposition-template")) {
      if (!IsKeywordIn(a, {"none", "booklet"})) return bad(name, "unsupported value");
    } else if (!std::strcmp(name, "vantora-poster")) {
      if (!IsKeywordIn(a, SupportedPosters())) return bad(name, "unsupported value");
    } else if (!std::strcmp(name, "vantora-cut-lines")) {
      if (ippGetValueTag(a) != IPP_TAG_BOOLEAN || ippGetCount(a) != 1)
        return bad(name, "must be one boolean");
    } else if (!std::strcmp(name, "vantora-stamp-text")) {
      ipp_tag_t t = ippGetValueTag(a);
      if ((t != IPP_TAG_TEXT && t != IPP_TAG_TEXTLANG) || ippGetCount(a) != 1)
        return bad(name, "must be one text value");
      const char *s = ippGetString(a, 0, nullptr);
      if (!s || std::strlen(s) > static_cast<size_t>(kStampTextMax))
        return bad(name, "longer than " + std::to_string(kStampTextMax) + " octets");
      for (const char *p = s; *p; ++p)
        if (static_cast<unsigned char>(*p) < 0x20 || *p == '"')
          return bad(name, "control characters and quotes are not allowed");
    }
  }
  return {};
}

std::string ValidatePrinterDefault(ipp_attribute_t *def) {
  static constexpr char kSuffix[] = "-default";
  constexpr size_t kSuffixLen = sizeof(kSuffix) - 1;
  const char *name = def ? ippGetName(def) : nullptr;
  size_t len = name ? std::strlen(name) : 0;
  if (len <= kSuffixLen || std::strcmp(name + len - kSuffixLen, kSuffix))
    return "not a printer default";
  ipp_t *asJob = ippNew();
  ipp_attribute_t *a = ippCopyAttribute(asJob, def, 0);
  std::string why;
  if (!a || !ippSetName(asJob, &a, std::string(name, len - kSuffixLen).c_str()))
    why = "cannot be read";
  else
    why = ValidateExtraAttributes(asJob, nullptr);
  ippDelete(asJob);
  return why;
}

}  // namespace vtpapp
