#pragma once

// A serial line the engine drives itself: opened raw, written whole, read with a deadline.

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace velkor {

// What a radio driver needs of its line, so the same driver can be fed any bytes in a test.
class Wire {
 public:
  using Clock = std::chrono::steady_clock;
  virtual ~Wire() = default;
  // False when not every byte could be written.
  virtual bool send(std::string_view bytes) = 0;
  // Up to size bytes that arrive by deadline: how many, 0 when none came, -1 when the line
  // failed.
  virtual int receive(char* buffer, std::size_t size, Clock::time_point deadline) = 0;
  // Drops whatever arrived that nobody asked for.
  virtual void discard() = 0;
};

struct SerialSettings {
  int speed = 4800;
  bool hardwareHandshake = true;
  int stopBits = 2;
};

// Opens device (a path on Linux, "COMn" on Windows) raw with 8 data bits and no parity, held
// exclusively while open. Returns the line, or null with the system's error number in error.
std::unique_ptr<Wire> openSerial(const std::string& device, const SerialSettings& settings,
                                 int& error);

}  // namespace velkor
