// Frames over a stream socket: a 4-byte big-endian length, then the bytes.
#pragma once

#include <string>
#include <string_view>

enum class FrameStatus {
  kOk,
  kClosed,   // the peer closed the connection between frames
  kTooLong,  // the length is above kMaxFrameLength
  kBroken,   // the connection ended inside a frame, or failed
};

FrameStatus ReadFrame(int fd, std::string &body);
// Sends one frame whole; false when the peer is gone.
bool WriteFrame(int fd, std::string_view body);

// Connects to the service's Unix socket; -1 on failure (errno set).
int ConnectToService(const std::string &socketPath);
// Sends one request and reads its reply. False when the service closed the
// connection without one.
bool CallService(int fd, std::string_view selectorName, std::string_view request, std::string &reply);
