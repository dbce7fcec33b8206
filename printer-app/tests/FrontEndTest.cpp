// The check of requests in front of PAPPL: which requests it answers itself,
// with what, and how it passes a job-password on.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "FrontEnd.h"

using namespace vtpapp;

namespace {

ipp_t *Request(ipp_op_t op) {
  ipp_t *r = ippNewRequest(op);
  ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
               "ipp://localhost/ipp/print/Q610");
  ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "alice");
  return r;
}

void Pin(ipp_t *r, ipp_tag_t group, const char *pin) {
  ippAddOctetString(r, group, "job-password", pin, static_cast<int>(std::strlen(pin)));
}

}  // namespace

TEST(FrontEnd, RequestsWithBadValuesAreAnsweredWithTheAttribute) {
  struct Case {
    const char *what;
    ipp_op_t op;
    std::function<void(ipp_t *)> build;
    ipp_status_t status;     // IPP_STATUS_OK: passed on to PAPPL
    const char *unsupported;  // the attribute in the unsupported group
  };
  const Case cases[] = {
      {"poster 5x5", IPP_OP_PRINT_JOB,
       [](ipp_t *r) {
         ippAddString(r, IPP_TAG_JOB, IPP_TAG_KEYWORD, "vantora-poster", nullptr, "5x5");
       },
       IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES, "vantora-poster"},
      {"short PIN as operation attribute", IPP_OP_CREATE_JOB,
       [](ipp_t *r) { Pin(r, IPP_TAG_OPERATION, "12"); }, IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES,
       "job-password"},
      {"huge media-col", IPP_OP_VALIDATE_JOB,
       [](ipp_t *r) {
         ipp_t *mc = ippNew();
         for (int i = 0; i < 600; ++i)
           ippAddString(mc, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "media-source", nullptr, "tray-1");
         ippAddCollection(r, IPP_TAG_JOB, "media-col", mc);
         ippDelete(mc);
       },
       IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES, "media-col"},
      {"stamp with a quote", IPP_OP_SEND_DOCUMENT,
       [](ipp_t *r) {
         ippAddString(r, IPP_TAG_JOB, IPP_TAG_TEXT, "vantora-stamp-text", nullptr, "a\"b");
       },
       IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES, "vantora-stamp-text"},
      {"two PINs", IPP_OP_PRINT_JOB,
       [](ipp_t *r) {
         Pin(r, IPP_TAG_OPERATION, "1234");
         Pin(r, IPP_TAG_JOB, "5678");
       },
       IPP_STATUS_ERROR_BAD_REQUEST, nullptr},
      {"good job", IPP_OP_PRINT_JOB,
       [](ipp_t *r) {
         ippAddString(r, IPP_TAG_JOB, IPP_TAG_KEYWORD, "vantora-poster", nullptr, "2x2");
       },
       IPP_STATUS_OK, nullptr},
      {"bad poster default", IPP_OP_SET_PRINTER_ATTRIBUTES,
       [](ipp_t *r) {
         ippAddString(r, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "vantora-poster-default", nullptr,
                      "5x5");
       },
       IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES, "vantora-poster-default"},
      {"wake port out of range", IPP_OP_SET_PRINTER_ATTRIBUTES,
       [](ipp_t *r) {
         ippAddInteger(r, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "vantora-wake-port-default", 70000);
       },
       IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES, "vantora-wake-port-default"},
      {"wake MAC not one", IPP_OP_SET_PRINTER_ATTRIBUTES,
       [](ipp_t *r) {
         ippAddString(r, IPP_TAG_PRINTER, IPP_TAG_TEXT, "vantora-wake-mac-default", nullptr,
                      "00:11:22");
       },
       IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES, "vantora-wake-mac-default"},
      {"good wake settings", IPP_OP_SET_PRINTER_ATTRIBUTES,
       [](ipp_t *r) {
         ippAddString(r, IPP_TAG_PRINTER, IPP_TAG_TEXT, "vantora-wake-mac-default", nullptr,
                      "00:11:22:33:44:55");
         ippAddString(r, IPP_TAG_PRINTER, IPP_TAG_TEXT, "vantora-wake-address-default", nullptr,
                      "");
         ippAddInteger(r, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "vantora-wake-port-default", 9);
       },
       IPP_STATUS_OK, nullptr},
      {"other operations pass", IPP_OP_GET_PRINTER_ATTRIBUTES,
       [](ipp_t *r) {
         ippAddString(r, IPP_TAG_JOB, IPP_TAG_KEYWORD, "vantora-poster", nullptr, "5x5");
       },
       IPP_STATUS_OK, nullptr},
  };
  for (const auto &c : cases) {
    ipp_t *request = Request(c.op);
    c.build(request);
    ipp_t *answer = CheckRequest(request);
    if (c.status == IPP_STATUS_OK) {
      EXPECT_EQ(answer, nullptr) << c.what;
    } else if (!answer) {
      ADD_FAILURE() << c.what << ": passed on";
    } else {
      EXPECT_EQ(ippGetStatusCode(answer), c.status) << c.what;
      EXPECT_EQ(ippGetRequestId(answer), ippGetRequestId(request)) << c.what;
      ipp_attribute_t *u = c.unsupported ? ippFindAttribute(answer, c.unsupported, IPP_TAG_ZERO)
                                         : nullptr;
      if (c.unsupported) {
        ASSERT_NE(u, nullptr) << c.what;
        EXPECT_EQ(ippGetGroupTag(u), IPP_TAG_UNSUPPORTED_GROUP) << c.what;
      }
      EXPECT_NE(ippFindAttribute(answer, "status-message", IPP_TAG_TEXT), nullptr) << c.what;
    }
    ippDelete(answer);
    ippDelete(request);
  }
}

// The PIN of a print dialog (an operation attribute) becomes the job's.
TEST(FrontEnd, OperationJobPasswordMovesToTheJob) {
  ipp_t *request = Request(IPP_OP_PRINT_JOB);
  Pin(request, IPP_TAG_OPERATION, "4711");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "job-password-encryption", nullptr,
               "none");
  ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, "sides", nullptr, "one-sided");
  EXPECT_EQ(CheckRequest(request), nullptr);
  for (const char *name : {"job-password", "job-password-encryption"}) {
    ipp_attribute_t *a = ippFindAttribute(request, name, IPP_TAG_ZERO);
    ASSERT_NE(a, nullptr) << name;
    EXPECT_EQ(ippGetGroupTag(a), IPP_TAG_JOB) << name;
  }
  int len = 0;
  const void *pin = ippGetOctetString(ippFindAttribute(request, "job-password", IPP_TAG_STRING),
                                      0, &len);
  EXPECT_EQ(std::string(static_cast<const char *>(pin), static_cast<size_t>(len)), "4711");
  // The groups stay in order: operation, then job.
  ipp_tag_t last = IPP_TAG_ZERO;
  for (ipp_attribute_t *a = ippFirstAttribute(request); a; a = ippNextAttribute(request)) {
    EXPECT_GE(ippGetGroupTag(a), last) << ippGetName(a);
    last = ippGetGroupTag(a);
  }
  ippDelete(request);
}

TEST(FrontEnd, OnlyLoopbackNamesAreLoopback) {
  EXPECT_TRUE(IsLoopbackOnly("localhost", 8631));
  EXPECT_TRUE(IsLoopbackOnly("127.0.0.1", 8631));
  EXPECT_FALSE(IsLoopbackOnly("", 8631));
  EXPECT_FALSE(IsLoopbackOnly("0.0.0.0", 8631));
}
