#include "Q610Driver.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FilterRun.h"
#include "JobOptions.h"
#include "PrinterMib.h"
#include "RasterPs.h"
#include "Wake.h"

#ifndef VT_PAPP_SOURCE_PPD
#define VT_PAPP_SOURCE_PPD ""
#endif

namespace vtpapp {

const char kDriverName[] = "vantora_q610";

namespace {

std::atomic<bool> gJobPasswordKept{false};

pappl_pr_driver_t gDrivers[] = {
    {kDriverName, "VANTORA Q610", "MFG:VANTORA;MDL:Q610;CMD:PJL,POSTSCRIPT;", nullptr},
};

// The attributes of a job the mapping reads.
const char *const kJobAttributeNames[] = {
    "media",
    "media-col",
    "media-source",
    "media-type",
    "sides",
    "imposition-template",
    "orientation-requested",
    "print-scaling",
    "cover-front",
    "cover-back",
    "insert-sheet",
    "vantora-poster",
    "vantora-cut-lines",
    "vantora-stamp-text",
    "job-password",
    "job-password-encryption",
};

std::string FilterProgram() {
  const char *env = std::getenv("VANTORA_PRINTER_APP_FILTER");
  if (env && *env) return FirstExecutable({env});
  std::string dir = ProgramDir();
  return FirstExecutable({dir.empty() ? "" : dir + "/psToVTOrbPS",
                          dir.empty() ? "" : dir + "/../lib/cups/filter/psToVTOrbPS",
                          "/usr/lib/cups/filter/psToVTOrbPS"});
}

std::string PpdFile() {
  const char *env = std::getenv("VANTORA_PRINTER_APP_PPD");
  if (env && *env) return FirstReadable({env});
  // Where `cmake --install` puts it beside the program, then where the
  // Debian package (/usr/share/ppd) or an install into /usr puts it.
  std::string dir = ProgramDir();
  return FirstReadable({dir.empty() ? "" : dir + "/../share/cups/model/vantora/Q610.ppd",
                        dir.empty() ? "" : dir + "/../share/ppd/vantora/Q610.ppd",
                        "/usr/share/ppd/vantora/Q610.ppd", "/usr/share/cups/model/vantora/Q610.ppd",
                        VT_PAPP_SOURCE_PPD});
}

// The printer's defaults under the names the job would use.
ipp_t *PrinterDefaults(pappl_printer_t *printer) {
  ipp_t *d = ippNew();
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  ipp_t *mc = ippNew();
  if (data.media_default.size_name[0])
    ippAddString(mc, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "media-size-name", nullptr,
                 data.media_default.size_name);
  if (data.media_default.source[0])
    ippAddString(mc, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "media-source", nullptr,
                 data.media_default.source);
  if (data.media_default.type[0])
    ippAddString(mc, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "media-type", nullptr, data.media_default.type);
  ippAddCollection(d, IPP_TAG_PRINTER, "media-col-default", mc);
  ippDelete(mc);
  if (data.sides_default == PAPPL_SIDES_TWO_SIDED_LONG_EDGE)
    ippAddString(d, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "sides", nullptr, "two-sided-long-edge");
  else if (data.sides_default == PAPPL_SIDES_TWO_SIDED_SHORT_EDGE)
    ippAddString(d, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "sides", nullptr, "two-sided-short-edge");
  if (data.orient_default >= IPP_ORIENT_PORTRAIT)
    ippAddInteger(d, IPP_TAG_PRINTER, IPP_TAG_ENUM, "orientation-requested", data.orient_default);
  if (data.scaling_default == PAPPL_SCALING_NONE)
    ippAddString(d, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-scaling", nullptr, "none");
  else if (data.scaling_default == PAPPL_SCALING_FIT)
    ippAddString(d, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-scaling", nullptr, "fit");
  else if (data.scaling_default == PAPPL_SCALING_FILL)
    ippAddString(d, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-scaling", nullptr, "fill");
  else
    ippAddString(d, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-scaling", nullptr, "auto");

  if (ipp_t *attrs = papplPrinterGetDriverAttributes(printer)) {
    // The defaults the printing-defaults page sets. A stamp is a job's own:
    // that page cannot set a text, and saving it would store a number.
    for (const char *name : {"vantora-poster", "vantora-cut-lines", "imposition-template"}) {
      std::string def = std::string(name) + "-default";
      if (ipp_attribute_t *a = ippFindAttribute(attrs, def.c_str(), IPP_TAG_ZERO)) {
        // A value the printer does not have leaves the driver's own default.
        if (std::string why = ValidatePrinterDefault(a); !why.empty()) {
          papplLogPrinter(printer, PAPPL_LOGLEVEL_WARN, "Ignoring the printer's %s: %s",
                          def.c_str(), why.c_str());
          continue;
        }
        ipp_attribute_t *c = ippCopyAttribute(d, a, 0);
        ippSetName(d, &c, name);
      }
    }
    ippDelete(attrs);
  }
  return d;
}

// The device a job's stream is written to.
//
// PAPPL 1.3.1 may run jobs of one printer in several threads at once (see
// JobRuns below), and each of them, when it ends, closes the printer's device
// if the device URI is a file: one, or if no job of the printer is left
// active. A job that took over the device a job before it had opened can
// therefore find it closed and freed under it. So:
// - a file: device is opened by the job itself (a file or folder can be
//   opened as often as needed), and closed when the stream is written;
// - any other device (socket:, usb:) takes one connection at a time, and
//   PAPPL holds one open for the running job: the job writes through it. PAPPL
//   keeps that device open while any job of the printer is active, and every
//   job that runs is active;
// - a job that PAPPL hands no device (the one it had was closed before the job
//   came to use it) opens one itself: PAPPL holds none then.
class JobDevice {
 public:
  JobDevice(pappl_job_t *job, pappl_device_t *given) : job_(job), given_(given) {}
  JobDevice(const JobDevice &) = delete;
  JobDevice &operator=(const JobDevice &) = delete;
  ~JobDevice() {
    if (own_) papplDeviceClose(own_);
  }

  // The device, opened on first use; null (with the job's message set) when
  // it cannot be opened.
  pappl_device_t *Get() {
    if (own_) return own_;
    pappl_printer_t *printer = papplJobGetPrinter(job_);
    const char *uri = papplPrinterGetDeviceURI(printer);
    if (given_ && !(uri && std::strncmp(uri, "file:", 5) == 0)) return given_;
    const char *name = papplJobGetName(job_);
    own_ = papplDeviceOpen(uri, name ? name : "job", papplLogDevice, papplPrinterGetSystem(printer));
    if (!own_) papplJobSetMessage(job_, "Cannot open the printer's device.");
    return own_;
  }

 private:
  pappl_job_t *job_;
  pappl_device_t *given_;
  pappl_device_t *own_ = nullptr;
};

// Prints one PostScript document of the job through the filter.
// The job's copies (PAPPL keeps them within copies-supported).
int JobCopies(pappl_job_t *job) {
  ipp_attribute_t *c = papplJobGetAttribute(job, "copies");
  int n = c ? ippGetInteger(c, 0) : 1;
  return n < 1 ? 1 : n;
}

// `copies` is how often the stream is sent: the filter makes one copy, and
// PAPPL has already repeated the pages of raster jobs.
bool PrintPostScript(pappl_job_t *job, pappl_device_t *device, const std::string &psFile,
                     const JobMapping &mapping, int copies) {
  std::string filter = FilterProgram();
  std::string ppd = PpdFile();
  if (filter.empty()) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR,
                "psToVTOrbPS was not found beside the program or in /usr/lib/cups/filter");
    papplJobSetMessage(job, "The printer's filter is not installed.");
    return false;
  }
  if (ppd.empty()) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The Q610 PPD was not found");
    papplJobSetMessage(job, "The printer's PPD is not installed.");
    return false;
  }

  const char *user = papplJobGetUsername(job);
  const char *title = papplJobGetName(job);
  std::vector<std::string> args{std::to_string(papplJobGetID(job)),
                                user ? user : "",
                                title ? title : "",
                                std::to_string(copies),
                                JoinFilterOptions(mapping.options),
                                psFile};
  papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Running %s with options: %s", filter.c_str(),
              args[4].c_str());

  int completed = 0;
  FilterProgress progress;
  progress.impressions = [job, &completed](int n) {
    if (n > completed) {
      papplJobSetImpressionsCompleted(job, n - completed);
      completed = n;
    }
  };
  progress.error = [job](const std::string &msg) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "psToVTOrbPS: %s", msg.c_str());
    papplJobSetMessage(job, "%s", msg.c_str());
  };
  progress.log = [job](const std::string &line) {
    papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "psToVTOrbPS: %s", line.c_str());
  };
  progress.canceled = [job]() { return papplJobIsCanceled(job); };

  // The print stream is collected first and sent to the device once the
  // filter has finished: the device is in use only for the copy, and a job
  // canceled meanwhile sends nothing.
  std::string streamFile = psFile + ".prn";
  std::FILE *stream = std::fopen(streamFile.c_str(), "w+b");
  if (!stream) {
    papplJobSetMessage(job, "Cannot create a spool file.");
    return false;
  }
  std::string error;
  int status = RunFilter(
      filter, args, {"PPD=" + ppd},
      [stream](const char *data, size_t len) { return std::fwrite(data, 1, len, stream) == len; },
      progress, error);
  if (status == 0 && std::fflush(stream) != 0) {
    status = -1;
    error = "cannot write the spool file";
  }
  bool sent = status == 0;
  JobDevice output(job, device);
  pappl_device_t *out = sent ? output.Get() : nullptr;
  if (sent && !out) {
    sent = false;
    status = -1;
    error = "the printer's device cannot be opened";
  }
  for (int copy = 0; sent && copy < copies; ++copy) {
    std::rewind(stream);
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), stream)) > 0) {
      if (papplJobIsCanceled(job)) {
        sent = false;
        break;
      }
      if (papplDeviceWrite(out, buf, n) != static_cast<ssize_t>(n)) {
        sent = false;
        status = -1;
        error = "the device did not take the print stream";
        break;
      }
    }
  }
  if (sent) papplDeviceFlush(out);
  std::fclose(stream);
  unlink(streamFile.c_str());
  if (!sent) {
    if (papplJobIsCanceled(job)) return false;
    if (error.empty()) error = "psToVTOrbPS failed with exit status " + std::to_string(status);
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", error.c_str());
    papplJobSetReasons(job, PAPPL_JREASON_JOB_COMPLETED_WITH_ERRORS, PAPPL_JREASON_NONE);
    papplJobSetMessage(job, "%s", error.c_str());
    return false;
  }
  return true;
}

// The mapping of a job's attributes, or false with the job's message set.
bool MapJob(pappl_job_t *job, JobMapping &mapping) {
  ipp_t *attrs = ippNew();
  for (const char *name : kJobAttributeNames)
    if (ipp_attribute_t *a = papplJobGetAttribute(job, name)) ippCopyAttribute(attrs, a, 0);
  std::string bad;
  std::string why = ValidateExtraAttributes(attrs, &bad);
  ipp_t *defaults = PrinterDefaults(papplJobGetPrinter(job));
  if (why.empty())
    mapping = MapJobAttributes(attrs, defaults, papplJobGetUsername(job), papplJobGetName(job));
  ippDelete(defaults);
  ippDelete(attrs);
  if (why.empty()) why = mapping.error;
  if (!why.empty()) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", why.c_str());
    papplJobSetMessage(job, "%s", why.c_str());
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR, PAPPL_JREASON_NONE);
    return false;
  }
  return true;
}

// Jobs of one printer are printed one at a time. PAPPL 1.3.1 does not ensure
// that: it starts a job's thread with the job still pending and the printer
// not yet marked as processing it; the thread does both only once it runs.
// Any check for jobs in between (a job arriving, another job ending, a
// release) starts the newest pending job again: another job, or the same one
// when no newer one waits. The driver therefore
// - serialises the work of a printer's jobs (PrinterLock),
// - never writes through a device PAPPL may close under it (JobDevice),
// - prints a job once when PAPPL runs it in two threads (JobRuns).
std::mutex &PrinterLock(pappl_printer_t *printer) {
  static std::mutex mapLock;
  static std::map<pappl_printer_t *, std::unique_ptr<std::mutex>> locks;
  std::lock_guard<std::mutex> g(mapLock);
  auto &m = locks[printer];
  if (!m) m = std::make_unique<std::mutex>();
  return *m;
}

// The jobs the driver has begun, with their result once ended.
class JobRuns {
 public:
  // True when the calling thread is the first to run the job.
  bool Begin(pappl_job_t *job) {
    std::lock_guard<std::mutex> g(lock_);
    if (Find(job)) return false;
    runs_.push_back({papplJobGetPrinter(job), papplJobGetID(job), false, false});
    // A second thread of a job starts within moments of the first; older
    // entries are of no further use.
    if (runs_.size() > 512) runs_.pop_front();
    return true;
  }

  void End(pappl_job_t *job, bool ok) {
    {
      std::lock_guard<std::mutex> g(lock_);
      if (Run *r = Find(job)) {
        r->done = true;
        r->ok = ok;
      }
    }
    ended_.notify_all();
  }

  // Waits until the first run of the job ended; its result.
  bool WaitEnd(pappl_job_t *job) {
    std::unique_lock<std::mutex> g(lock_);
    Run *r = nullptr;
    ended_.wait(g, [&] { return !(r = Find(job)) || r->done; });
    return r && r->ok;
  }

 private:
  struct Run {
    pappl_printer_t *printer;
    int id;
    bool done;
    bool ok;
  };
  Run *Find(pappl_job_t *job) {
    pappl_printer_t *printer = papplJobGetPrinter(job);
    int id = papplJobGetID(job);
    for (Run &r : runs_)
      if (r.printer == printer && r.id == id) return &r;
    return nullptr;
  }

  std::mutex lock_;
  std::condition_variable ended_;
  std::deque<Run> runs_;
};

JobRuns &Runs() {
  static JobRuns runs;
  return runs;
}

// A second thread of a job the driver already runs: waits until the first
// thread's run and PAPPL's end of the job are over, then ends without
// printing. When this thread took the job up after PAPPL had ended it (the
// job shows processing again), PAPPL must end it once more: the first run's
// result is returned for that. Otherwise the thread ends here, so that PAPPL
// does not end the job twice (which would list it twice among the completed
// jobs and free it twice). `mayExit` is false on a client's own thread.
bool SecondRun(pappl_job_t *job, bool mayExit) {
  papplLogJob(job, PAPPL_LOGLEVEL_WARN,
              "PAPPL started this job a second time; it is printed once");
  bool ok = Runs().WaitEnd(job);
  for (int i = 0; i < 6000 && papplJobGetTimeCompleted(job) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (mayExit && papplJobGetState(job) >= IPP_JSTATE_CANCELED) pthread_exit(nullptr);
  return ok;
}

// No C++ exception may cross PAPPL's C frames: a failure there fails the job.
template <typename F>
bool Guarded(pappl_job_t *job, F &&f) {
  try {
    std::lock_guard<std::mutex> one(PrinterLock(papplJobGetPrinter(job)));
    return f();
  } catch (const std::exception &e) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Internal error: %s", e.what());
  } catch (...) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Internal error");
  }
  papplJobSetMessage(job, "Internal error in the driver.");
  return false;
}

// A job printed by one call of the driver (PostScript, PDF).
template <typename F>
bool RunJob(pappl_job_t *job, F &&f) {
  if (!Runs().Begin(job)) return SecondRun(job, true);
  bool ok = Guarded(job, f);
  Runs().End(job, ok);
  return ok;
}

// The job's document, or null when it is gone (a job canceled before it ran).
const char *DocumentOf(pappl_job_t *job) {
  const char *f = papplJobGetFilename(job);
  if (!f || !*f) papplLogJob(job, PAPPL_LOGLEVEL_INFO, "The job has no document (canceled?)");
  return f && *f ? f : nullptr;
}

// The paper of the mapping in points, 0 when not known.
void PaperPoints(const JobMapping &mapping, int &w, int &h) {
  w = h = 0;
  if (mapping.pwgSize.empty()) return;
  if (pwg_media_t *pwg = pwgMediaForPWG(mapping.pwgSize.c_str())) {
    w = static_cast<int>(pwg->width * 72.0 / 2540.0 + 0.5);
    h = static_cast<int>(pwg->length * 72.0 / 2540.0 + 0.5);
  }
}

// Converts the job's document with `convert` into a spool file and prints that.
bool PrintConverted(pappl_job_t *job, pappl_device_t *device, const JobMapping &mapping,
                    const std::function<bool(const std::string &, std::string &)> &convert) {
  // Not "ps": a PostScript job's own document already has that name.
  char psFile[1024];
  int fd = papplJobOpenFile(job, psFile, sizeof(psFile), nullptr, "forfilter.ps", "w");
  if (fd < 0) {
    papplJobSetMessage(job, "Cannot create a spool file.");
    return false;
  }
  close(fd);
  std::string error;
  bool ok = convert(psFile, error);
  if (!ok) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", error.c_str());
    papplJobSetMessage(job, "%s", error.c_str());
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
  } else {
    ok = PrintPostScript(job, device, psFile, mapping, JobCopies(job));
  }
  unlink(psFile);
  return ok;
}

bool PrintFileCallback(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device) {
  return RunJob(job, [&] {
    const char *doc = DocumentOf(job);
    JobMapping mapping;
    if (!doc || !MapJob(job, mapping)) return false;
    if (HasPageComments(doc)) return PrintPostScript(job, device, doc, mapping, JobCopies(job));
    // Without page comments the filter sees one page; the document is
    // rewritten with them first.
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "The document has no page comments; normalising it");
    int w, h;
    PaperPoints(mapping, w, h);
    return PrintConverted(job, device, mapping, [&](const std::string &ps, std::string &error) {
      return NormalizePostScript(doc, ps, mapping.fitToPage, mapping.expand, w, h, error);
    });
  });
}

bool PdfFilter(pappl_job_t *job, pappl_device_t *device);

bool PdfFilterCallback(pappl_job_t *job, pappl_device_t *device, void *) {
  return RunJob(job, [&] { return PdfFilter(job, device); });
}

bool PdfFilter(pappl_job_t *job, pappl_device_t *device) {
  const char *doc = DocumentOf(job);
  JobMapping mapping;
  if (!doc || !MapJob(job, mapping)) return false;
  int w, h;
  PaperPoints(mapping, w, h);
  return PrintConverted(job, device, mapping, [&](const std::string &ps, std::string &error) {
    return ConvertPdfToPs(doc, ps, mapping.fitToPage, mapping.expand, w, h, error);
  });
}

// Raster jobs (PWG raster, Apple raster, JPEG, PNG) arrive as lines; they are
// collected as a PostScript document and printed through the filter like any
// other.
struct RasterJob {
  RasterPsWriter writer;
  char path[1024] = "";
};

// A second thread of a raster job answers every later callback with the
// first run's result.
thread_local int tReplay = -1;

bool RasterStartJob(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *) {
  tReplay = -1;
  if (!Runs().Begin(job)) {
    // PWG and Apple raster are streamed on the client's own thread, which
    // must go on serving.
    const char *f = papplJobGetFilename(job);
    tReplay = SecondRun(job, f && *f) ? 1 : 0;
    return tReplay == 1;
  }
  bool ok = Guarded(job, [&] {
    auto *r = new RasterJob;
    int fd = papplJobOpenFile(job, r->path, sizeof(r->path), nullptr, "forfilter.ps", "w");
    if (fd >= 0) close(fd);
    if (fd < 0 || !r->writer.Open(r->path)) {
      papplJobSetMessage(job, "Cannot create a spool file.");
      delete r;
      return false;
    }
    papplJobSetData(job, r);
    return true;
  });
  if (!ok) Runs().End(job, false);
  return ok;
}

bool RasterStartPage(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *, unsigned) {
  if (tReplay >= 0) return tReplay == 1;
  auto *r = static_cast<RasterJob *>(papplJobGetData(job));
  if (!r) return false;
  RasterPage page;
  page.width = options->header.cupsWidth;
  page.height = options->header.cupsHeight;
  page.bitsPerPixel = options->header.cupsBitsPerPixel;
  page.pageWidth = options->header.PageSize[0];
  page.pageHeight = options->header.PageSize[1];
  return r->writer.BeginPage(page);
}

bool RasterWriteLine(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *, unsigned,
                     const unsigned char *line) {
  if (tReplay >= 0) return tReplay == 1;
  auto *r = static_cast<RasterJob *>(papplJobGetData(job));
  return r && r->writer.WriteLine(line);
}

bool RasterEndPage(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *, unsigned) {
  if (tReplay >= 0) return tReplay == 1;
  auto *r = static_cast<RasterJob *>(papplJobGetData(job));
  return r && r->writer.EndPage();
}

// PAPPL calls this after a failed page too.
bool RasterEndJob(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *device) {
  if (tReplay >= 0) {
    bool ok = tReplay == 1;
    tReplay = -1;
    return ok;
  }
  bool ok = Guarded(job, [&] {
    auto *r = static_cast<RasterJob *>(papplJobGetData(job));
    if (!r) return false;
    papplJobSetData(job, nullptr);
    bool ok = r->writer.Close();
    if (!ok) papplJobSetMessage(job, "Cannot write the spool file.");
    JobMapping mapping;
    if (ok) ok = MapJob(job, mapping);
    if (ok) ok = PrintPostScript(job, device, r->path, mapping, 1);
    unlink(r->path);
    delete r;
    return ok;
  });
  Runs().End(job, ok);
  return ok;
}

// The port of the printers' SNMP agents: 161; tests point it at their own.
int SnmpPort() {
  const char *env = std::getenv("VANTORA_PRINTER_APP_SNMP_PORT");
  int port = env ? std::atoi(env) : 0;
  return port > 0 && port < 65536 ? port : 161;
}

// The printer's state and supplies from its Printer MIB, for a network
// printer. PAPPL asks for them before answering Get-Printer-Attributes, so
// the agent is asked at most every 10 seconds (every 60 when it did not
// answer), with a short wait.
bool StatusCallback(pappl_printer_t *printer) {
  std::string agent = SnmpAgentFor(papplPrinterGetDeviceURI(printer), SnmpPort());
  if (agent.empty()) return true;
  static std::mutex lock;
  static std::map<pappl_printer_t *, std::chrono::steady_clock::time_point> next;
  auto now = std::chrono::steady_clock::now();
  {
    std::lock_guard<std::mutex> g(lock);
    auto it = next.find(printer);
    if (it != next.end() && now < it->second) return true;
    next[printer] = now + std::chrono::seconds(60);
  }
  MibStatus mib;
  std::string error;
  if (!QueryPrinterMib(agent, "public", 500, mib, error)) {
    papplLogPrinter(printer, PAPPL_LOGLEVEL_DEBUG, "Printer MIB: %s", error.c_str());
    return true;
  }
  {
    std::lock_guard<std::mutex> g(lock);
    next[printer] = now + std::chrono::seconds(10);
  }
  PrinterState st = MapPrinterMib(mib);
  if (!st.supplies.empty())
    papplPrinterSetSupplies(printer, static_cast<int>(st.supplies.size()), st.supplies.data());
  papplPrinterSetReasons(printer, st.reasons,
                         static_cast<pappl_preason_t>(kMibReasons & ~st.reasons));
  return true;
}

// The wake settings of each printer, as read when its last job arrived: PAPPL
// reports a job starting with the printer and the job locked, when they
// cannot be read.
struct WakeState {
  WakeSettings settings;
  std::chrono::steady_clock::time_point sent;
};
std::mutex gWakeLock;
std::map<pappl_printer_t *, WakeState> gWake;

void Wake(pappl_printer_t *printer, const WakeSettings &settings) {
  std::string why = SendWake(settings);
  if (why.empty())
    papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Sent the Wake-on-LAN packet for %s to %s port %d",
                    settings.mac.c_str(),
                    settings.address.empty() ? "255.255.255.255" : settings.address.c_str(),
                    settings.port);
  else
    papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "No Wake-on-LAN: %s", why.c_str());
}

void IdentifyCallback(pappl_printer_t *printer, pappl_identify_actions_t, const char *message) {
  papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Identify-Printer: %s", message ? message : "");
}

void AddKeywords(ipp_t *attrs, const char *name, const std::vector<const char *> &values) {
  ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, name, static_cast<int>(values.size()),
                nullptr, values.data());
}

// A job preset: its name and the attributes it sets.
ipp_t *Preset(const char *name, const std::function<void(ipp_t *)> &fill) {
  ipp_t *p = ippNew();
  ippAddString(p, IPP_TAG_ZERO, IPP_TAG_NAME, "preset-name", nullptr, name);
  fill(p);
  return p;
}

ipp_t *CoverCol(const char *type, const char *source) {
  ipp_t *cover = ippNew();
  ippAddString(cover, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "cover-type", nullptr, type);
  ipp_t *mc = ippNew();
  ippAddString(mc, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "media-source", nullptr, source);
  ippAddCollection(cover, IPP_TAG_ZERO, "media-col", mc);
  ippDelete(mc);
  return cover;
}

}  // namespace

void PrinterCreated(pappl_printer_t *printer, void *) {
  // The four toners, at unknown levels until the printer's MIB is read (a
  // network printer's, by the status callback).
  pappl_supply_t supplies[4] = {};
  const struct {
    pappl_supply_color_t color;
    const char *name;
  } toners[] = {{PAPPL_SUPPLY_COLOR_CYAN, "Cyan Toner"},
                {PAPPL_SUPPLY_COLOR_MAGENTA, "Magenta Toner"},
                {PAPPL_SUPPLY_COLOR_YELLOW, "Yellow Toner"},
                {PAPPL_SUPPLY_COLOR_BLACK, "Black Toner"}};
  for (int i = 0; i < 4; ++i) {
    supplies[i].color = toners[i].color;
    std::snprintf(supplies[i].description, sizeof(supplies[i].description), "%s", toners[i].name);
    supplies[i].is_consumed = true;
    supplies[i].level = -1;
    supplies[i].type = PAPPL_SUPPLY_TYPE_TONER;
  }
  papplPrinterSetSupplies(printer, 4, supplies);
}

void EventCallback(pappl_system_t *, pappl_printer_t *printer, pappl_job_t *job,
                   pappl_event_t event, void *) {
  if (!printer || !job) return;
  if (event == PAPPL_EVENT_JOB_CREATED) {
    // The printer is woken as soon as a job arrives, while its document is
    // still coming.
    WakeSettings settings = ReadWakeSettings(printer);
    {
      std::lock_guard<std::mutex> g(gWakeLock);
      WakeState &w = gWake[printer];
      w.settings = settings;
      if (!settings.mac.empty()) w.sent = std::chrono::steady_clock::now();
    }
    if (!settings.mac.empty()) Wake(printer, settings);
  } else if (event == PAPPL_EVENT_JOB_STATE_CHANGED) {
    // A job starting (or released) after a while: the printer may have gone
    // back to sleep. Nothing of PAPPL may be called here.
    WakeSettings settings;
    {
      std::lock_guard<std::mutex> g(gWakeLock);
      auto it = gWake.find(printer);
      if (it == gWake.end() || it->second.settings.mac.empty() ||
          std::chrono::steady_clock::now() - it->second.sent < std::chrono::seconds(60))
        return;
      it->second.sent = std::chrono::steady_clock::now();
      settings = it->second.settings;
    }
    Wake(printer, settings);
  }
}

pappl_pr_driver_t *Drivers(int *count) {
  *count = static_cast<int>(sizeof(gDrivers) / sizeof(gDrivers[0]));
  return gDrivers;
}

const char *AutoAddCallback(const char *, const char *, const char *deviceId, void *) {
  if (deviceId && std::strstr(deviceId, "MDL:Q610")) return kDriverName;
  return nullptr;
}

bool DriverCallback(pappl_system_t *system, const char *driverName, const char *deviceUri,
                    const char *deviceId, pappl_pr_driver_data_t *data, ipp_t **attrs, void *) {
  if (!driverName || std::strcmp(driverName, kDriverName)) return false;

  data->printfile_cb = PrintFileCallback;
  data->rstartjob_cb = RasterStartJob;
  data->rstartpage_cb = RasterStartPage;
  data->rwriteline_cb = RasterWriteLine;
  data->rendpage_cb = RasterEndPage;
  data->rendjob_cb = RasterEndJob;
  data->status_cb = StatusCallback;
  data->format = "application/postscript";
  std::strncpy(data->make_and_model, "VANTORA Q610", sizeof(data->make_and_model) - 1);
  data->has_supplies = true;
  data->ppm = 40;
  data->ppm_color = 40;
  data->kind = PAPPL_KIND_DOCUMENT | PAPPL_KIND_ENVELOPE | PAPPL_KIND_LABEL;
  data->color_supported =
      PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_COLOR | PAPPL_COLOR_MODE_MONOCHROME;
  data->color_default = PAPPL_COLOR_MODE_AUTO;
  data->content_default = PAPPL_CONTENT_AUTO;
  data->quality_default = IPP_QUALITY_NORMAL;
  data->scaling_default = PAPPL_SCALING_AUTO;
  data->orient_default = IPP_ORIENT_PORTRAIT;
  data->raster_types =
      PAPPL_PWG_RASTER_TYPE_SRGB_8 | PAPPL_PWG_RASTER_TYPE_SGRAY_8 | PAPPL_PWG_RASTER_TYPE_BLACK_1;
  data->duplex = PAPPL_DUPLEX_NORMAL;
  data->sides_supported =
      PAPPL_SIDES_ONE_SIDED | PAPPL_SIDES_TWO_SIDED_LONG_EDGE | PAPPL_SIDES_TWO_SIDED_SHORT_EDGE;
  data->sides_default = PAPPL_SIDES_ONE_SIDED;
  data->num_resolution = 1;
  // Raster documents are sent to the printer as images at this resolution;
  // PostScript and PDF keep the resolution of their own.
  data->x_resolution[0] = data->y_resolution[0] = 300;
  data->x_default = data->y_default = 300;
  data->left_right = 423;  // 1/6 inch, as the PPD's imageable area
  data->bottom_top = 423;
  // The printer has no way to be told; identification is shown in the log.
  data->identify_cb = IdentifyCallback;
  data->identify_supported = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
  data->identify_default = PAPPL_IDENTIFY_ACTIONS_DISPLAY;

  const auto &media = SupportedMedia();
  data->num_media = static_cast<int>(media.size());
  for (size_t i = 0; i < media.size(); ++i) data->media[i] = media[i];
  // PAPPL adds "auto" to media-source-supported itself.
  std::vector<const char *> sources;
  for (const char *s : SupportedSources())
    if (std::strcmp(s, "auto")) sources.push_back(s);
  data->num_source = static_cast<int>(sources.size());
  for (size_t i = 0; i < sources.size(); ++i) {
    data->source[i] = sources[i];
    pappl_media_col_t &ready = data->media_ready[i];
    std::memset(&ready, 0, sizeof(ready));
    pwg_media_t *pwg = pwgMediaForPWG("na_letter_8.5x11in");
    std::strncpy(ready.size_name, pwg->pwg, sizeof(ready.size_name) - 1);
    ready.size_width = pwg->width;
    ready.size_length = pwg->length;
    ready.left_margin = ready.right_margin = data->left_right;
    ready.top_margin = ready.bottom_margin = data->bottom_top;
    std::strncpy(ready.source, sources[i], sizeof(ready.source) - 1);
    std::strncpy(ready.type, "stationery", sizeof(ready.type) - 1);
  }
  data->media_default = data->media_ready[0];
  std::strncpy(data->media_default.source, "auto", sizeof(data->media_default.source) - 1);
  const auto &types = SupportedTypes();
  data->num_type = static_cast<int>(types.size());
  for (size_t i = 0; i < types.size(); ++i) data->type[i] = types[i];

  // The attributes a job may carry beyond PAPPL's own; PAPPL lists these in
  // job-creation-attributes-supported and gives their defaults to the job.
  data->num_vendor = 0;
  for (const char *v : {"vantora-poster", "vantora-cut-lines", "vantora-stamp-text", "cover-front",
                        "cover-back", "insert-sheet", "imposition-template"})
    data->vendor[data->num_vendor++] = v;
  // The Wake-on-LAN settings: PAPPL 1.3 lets a driver keep printer settings
  // only as the -default of a vendor attribute, which then is a job attribute
  // too; a job's own value is not used.
  for (const char *v : {kWakeMacAttr, kWakeAddressAttr, kWakePortAttr})
    data->vendor[data->num_vendor++] = v;

  ipp_t *a = ippNew();
  AddKeywords(a, "vantora-poster-supported", SupportedPosters());
  ippAddString(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "vantora-poster-default", nullptr, "none");
  ippAddBoolean(a, IPP_TAG_PRINTER, "vantora-cut-lines-supported", 1);
  ippAddBoolean(a, IPP_TAG_PRINTER, "vantora-cut-lines-default", 0);
  ippAddInteger(a, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "vantora-stamp-text-supported", kStampTextMax);
  ippAddOutOfBand(a, IPP_TAG_PRINTER, IPP_TAG_NOVALUE, "vantora-stamp-text-default");
  ippAddRange(a, IPP_TAG_PRINTER, (std::string(kWakePortAttr) + "-supported").c_str(), 1, 65535);
  ippAddInteger(a, IPP_TAG_PRINTER, IPP_TAG_INTEGER,
                (std::string(kWakePortAttr) + "-default").c_str(), 9);

  // Secure print: PAPPL 1.3 keeps only the job attributes group with a job,
  // and clients (CUPS among them) send job-password as an operation
  // attribute. It is offered only when the check of requests moves it to the
  // job's attributes; otherwise the job would print at once, not held for its
  // PIN. A job-password sent with the job's attributes is used either way.
  if (gJobPasswordKept) {
    ippAddInteger(a, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "job-password-supported", kSecurePinMax);
    ippAddString(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "job-password-encryption-supported", nullptr,
                 "none");
  }

  // The filter leaves colour management to the printer.
  ippAddString(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-supported", nullptr,
               "auto");
  ippAddString(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default", nullptr,
               "auto");

  // Get-Printer-Attributes answers with what was asked, nothing preferred.
  ippAddBoolean(a, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);

  // Covers, interleave sheets, booklet.
  AddKeywords(a, "cover-front-supported", {"cover-type", "media", "media-col"});
  AddKeywords(a, "cover-back-supported", {"cover-type", "media", "media-col"});
  AddKeywords(a, "cover-type-supported", {"no-cover", "print-none", "print-front", "print-both"});
  AddKeywords(a, "insert-sheet-supported",
              {"insert-after-page-number", "insert-count", "media", "media-col"});
  AddKeywords(a, "imposition-template-supported", {"none", "booklet"});
  ippAddString(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "imposition-template-default", nullptr, "none");

  // Presets for clients that show them.
  ipp_t *presets[3];
  presets[0] = Preset("booklet", [](ipp_t *p) {
    ippAddString(p, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "imposition-template", nullptr, "booklet");
    ippAddString(p, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "sides", nullptr, "two-sided-short-edge");
  });
  presets[1] = Preset("poster-2x2", [](ipp_t *p) {
    ippAddString(p, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "vantora-poster", nullptr, "2x2");
    ippAddBoolean(p, IPP_TAG_ZERO, "vantora-cut-lines", 1);
  });
  presets[2] = Preset("report-with-covers", [](ipp_t *p) {
    ipp_t *front = CoverCol("print-none", "tray-2");
    ipp_t *back = CoverCol("print-none", "tray-2");
    ippAddCollection(p, IPP_TAG_ZERO, "cover-front", front);
    ippAddCollection(p, IPP_TAG_ZERO, "cover-back", back);
    ippDelete(front);
    ippDelete(back);
    ippAddString(p, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "sides", nullptr, "two-sided-long-edge");
  });
  ippAddCollections(a, IPP_TAG_PRINTER, "job-presets-supported", 3,
                    const_cast<const ipp_t **>(presets));
  for (ipp_t *p : presets) ippDelete(p);

  *attrs = a;
  (void)system;
  (void)deviceUri;
  (void)deviceId;
  return true;
}

void SetJobPasswordKept(bool kept) { gJobPasswordKept = kept; }

// Labels of the driver's attributes and their values, for the web pages.
// Rows whose printer default is
// not used (what a cover or insert sheet may carry, the stamp's longest
// length) say so in their label: PAPPL's defaults page lists every vendor
// attribute with its -supported values.
const char kEnglishStrings[] = R"("vantora-poster" = "Poster";
"vantora-poster.none" = "Off";
"vantora-poster.1x2" = "1 x 2 sheets";
"vantora-poster.2x2" = "2 x 2 sheets";
"vantora-poster.3x3" = "3 x 3 sheets";
"vantora-poster.4x4" = "4 x 4 sheets";
"vantora-cut-lines" = "Poster cut lines";
"vantora-stamp-text" = "Stamp text (set per job), longest in bytes";
"cover-front" = "Front cover (set per job) with";
"cover-back" = "Back cover (set per job) with";
"cover-front.cover-type" = "Cover type";
"cover-back.cover-type" = "Cover type";
"cover-front.media" = "Media";
"cover-back.media" = "Media";
"cover-front.media-col" = "Media and tray";
"cover-back.media-col" = "Media and tray";
"cover-type" = "Cover";
"cover-type.no-cover" = "No cover";
"cover-type.print-none" = "Blank";
"cover-type.print-front" = "Printed on the front";
"cover-type.print-both" = "Printed on both sides";
"insert-sheet" = "Separator sheets (set per job) with";
"insert-sheet.insert-after-page-number" = "After page";
"insert-sheet.insert-count" = "Count";
"insert-sheet.media" = "Media";
"insert-sheet.media-col" = "Media and tray";
"imposition-template" = "Layout";
"imposition-template.none" = "Pages in order";
"imposition-template.booklet" = "Booklet";
"vantora-wake-mac" = "Wake-on-LAN MAC address";
"vantora-wake-address" = "Wake-on-LAN broadcast address";
"vantora-wake-port" = "Wake-on-LAN port";
)";

void RegisterResources(pappl_system_t *system) {
  papplSystemAddMIMEFilter(system, "application/pdf", "application/postscript", PdfFilterCallback,
                           nullptr);
  // PAPPL keeps the labels when the file is removed. Served as a file,
  // PAPPL 1.3.1 would offer it through printer-strings-uri, but would also
  // add printer-strings-languages-supported to the printer once more with
  // every Get-Printer-Attributes, which makes the answers invalid.
  static constexpr char kPath[] = "/vantora-en.strings";
  papplSystemAddStringsData(system, kPath, "en", kEnglishStrings);
  papplSystemRemoveResource(system, kPath);
}

}  // namespace vtpapp
