// The helper service's object: one per connection, one method per request of
// the print dialog. Each method takes the request string and returns the
// reply string.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "OrbRequests.h"

// Lets a cancel-file watcher know that the request it watches has finished.
struct CancelWatch;

class MacOrbServiceXPC5403614C_9BB3_4BD1_B25C_0731A6FA2F7C {
 public:
  std::string isFilePathWritable_XPC(std::string_view request);
  std::string writeDictionaryToPlistFile_XPC(std::string_view request);
  std::string sendMagicPacket_XPC(std::string_view request);
  std::string sendEchoAndRecvReply_XPC(std::string_view request);
  // Polls the cancel file every 20 ms; once it holds anything, raises the
  // watched request's own cancel flag (and gCancelFlag) and removes it. Ends as well when the request it watches has
  // finished, so no watcher outlives its request.
  static void cancelFileReadThread(std::string cancelFilePath, std::shared_ptr<CancelWatch> watch);
  std::string pdeSnmpGet_XPC(std::string_view request);
  std::string cancelFileWrite_XPC(std::string_view request);

  // Runs the method a frame's selector names.
  std::string Perform(OrbSelector selector, std::string_view request);
};
using MacOrbServiceXPC = MacOrbServiceXPC5403614C_9BB3_4BD1_B25C_0731A6FA2F7C;

// Whether the service can write to path: creates it if needed (mode 0664
// under mask 002) and removes it again if it was not there. 1 or 0.
int isFilePathWritable_XPC(const std::string &path);

// Runs body on a new detached thread; false when no thread could be started.
bool StartDetachedThread(std::function<void()> body);
