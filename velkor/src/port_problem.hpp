#pragma once

#include <string>
#include <vector>

namespace velkor {

// Why a radio's port could not be used, as the user has to act on it. Every error number the
// engine meets (the system's when it opens a device, Hamlib's and rigctld's afterwards) comes down
// to one of these in one table.
enum class Problem { kNoDevice, kNotSerial, kNoPermission, kBusy, kNoAnswer, kOther };

enum class Source { kSystem, kHamlib };

// kOther for a code the table does not hold.
Problem problemOf(Source source, int code);

// Hamlib's error numbers (RIG_E..., given negative or positive) in Spanish.
std::string hamlibText(int code);

// A serial device this computer has: its path, and the device it leads to when it is a link
// (/dev/serial/by-id/... -> ttyUSB0).
struct SerialDevice {
  std::string path;
  std::string target;
};

// Everything the error line may need; what does not apply stays empty.
struct PortFailure {
  Problem problem = Problem::kOther;
  std::string port;    // as the program named it: "COM1"
  std::string device;  // what was opened: "/dev/ttyS0", "COM1"
  int speed = 0;
  std::string detail;                 // the system's or Hamlib's words, for kOther
  std::string group;                  // kNoPermission: who may open it ("dialout")
  std::vector<std::string> holders;   // kBusy: "minicom (pid 4321)"
  std::vector<SerialDevice> devices;  // kNoDevice: what there is instead
  std::string confFile;               // where a COMn line would go
};

// The text after "ERROR ": the port, what is wrong, then what to do, in that order, so the
// start of the line says it.
std::string explain(const PortFailure& failure);

}  // namespace velkor
