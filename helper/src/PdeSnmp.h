// The SNMP GET the print dialog asks the service for: an snmpget command line
// run as a function over net-snmp, with the service's own session defaults
// and a wait for the response that a cancel flag can end.
#pragma once

#include <atomic>
#include <cstdint>

// Process-wide values, shared by every connection's thread.
extern std::atomic<int64_t> gSnmpTimeout;  // session timeout when none given (microseconds)
extern std::atomic<int32_t> gSnmpRetries;  // session retries when none given
// The cancel flag last given with a request or raised by a cancel; each
// request waits on a flag of its own, so a cancel ends only its request.
extern std::atomic<int32_t> gCancelFlag;
extern std::atomic<uint8_t> gtype;         // ASN.1 type of the last value fetched: 2, 4 or 6

// Results of PdeSnmpGet.
constexpr int kSnmpUsageError = -50;        // bad command line, or a value of another type
constexpr int kSnmpTimeoutError = -9780;    // no session, or no response
constexpr int kSnmpBadObjectError = -30887; // identifier that does not parse, or error status
constexpr int kSnmpNoSuchNameError = -30896;
constexpr int kSnmpOtherError = -30870;     // any other failure, cancellation included

// What one request fetched: a 32-bit integer or a NUL-terminated text.
constexpr size_t kSnmpResultSize = 256;
union SnmpResultArea {
  int32_t integer;
  char string[kSnmpResultSize];
};

// Starts the library once, before any request (not thread-safe itself).
void PdeSnmpInit();

// Runs "snmpget" with argv (program name, options, agent, identifiers) and
// puts the first value into result when its ASN.1 type is expectedType (2
// INTEGER, 4 OCTET STRING, 6 OBJECT IDENTIFIER). With charFlag non-zero an
// OCTET STRING of at least six bytes is written as a MAC address text. While
// cancelFlag (if given) is 1 before a wait round, the wait ends with
// kSnmpOtherError. The type of the value fetched is stored in gtype and,
// when valueType is given, in *valueType (0 when none was fetched).
// Returns 0 on success or one of the error codes above.
int PdeSnmpGet(int argc, char **argv, SnmpResultArea *result, int expectedType,
               const std::atomic<int32_t> *cancelFlag, int charFlag, uint8_t *valueType = nullptr);
