// The Q610 family's driver for the Printer Application.
#pragma once

#include <pappl/pappl.h>

namespace vtpapp {

extern const char kDriverName[];  // "vantora_q610"

// The drivers this application offers (one).
pappl_pr_driver_t *Drivers(int *count);

// Fills the printer's capabilities and the attributes PAPPL has no field for.
bool DriverCallback(pappl_system_t *system, const char *driverName, const char *deviceUri,
                    const char *deviceId, pappl_pr_driver_data_t *data, ipp_t **attrs,
                    void *cbData);

// Chooses the driver for a printer found by PAPPL's device discovery.
const char *AutoAddCallback(const char *deviceInfo, const char *deviceUri, const char *deviceId,
                            void *data);

// Gives a new printer its supplies.
void PrinterCreated(pappl_printer_t *printer, void *data);

// Wakes a printer with Wake-on-LAN when a job arrives for it.
void EventCallback(pappl_system_t *system, pappl_printer_t *printer, pappl_job_t *job,
                   pappl_event_t event, void *data);

// Whether a job-password sent as an operation attribute reaches the job (the
// check of requests runs in front of PAPPL): then job-password is offered.
void SetJobPasswordKept(bool kept);

// Registers the PDF and PostScript paths of a job, and the labels of the
// driver's attributes (an English strings file), with the system.
void RegisterResources(pappl_system_t *system);

}  // namespace vtpapp
