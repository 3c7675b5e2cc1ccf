#pragma once

// What the engine asks the system about serial devices, so that a port it cannot use is
// explained in the user's terms.

#include <string>
#include <vector>

#include "port_problem.hpp"
#include "settings.hpp"

namespace velkor::sys {

// 0 when the device opens as a serial port (it is closed again at once), else the system's
// error number (errno on Linux, GetLastError on Windows). Never blocks.
int probeSerial(const std::string& device);

// The serial devices this computer has. Linux: /dev/serial/by-id/* with the ttyUSB/ttyACM they
// lead to, other ttyUSB/ttyACM, and the ttyS ports that have a UART. Windows: the COM ports the
// system lists.
std::vector<SerialDevice> serialDevices();

// Other programs that have the device open, as "name (pid N)", where the system tells.
std::vector<std::string> deviceHolders(const std::string& device);

// The group allowed to open the device ("dialout"), or empty.
std::string deviceGroup(const std::string& device);

// The system's own words for an error number.
std::string errorText(int code);

}  // namespace velkor::sys

namespace velkor {

// The text after "ERROR " for a serial device that could not be used, with what the system
// knows about it: the devices there are instead, who holds it, who may open it.
std::string serialFailure(Problem problem, const std::string& port, const std::string& device,
                          const Settings& settings, const std::string& detail);

}  // namespace velkor
