#include <gtest/gtest.h>

#include <string>

#include "port_problem.hpp"
#include "serial.hpp"

namespace velkor {
namespace {

#ifndef _WIN32
// A silent built-in port beside an adapter proposes the adapter, and says silence may be
// another user's hold.
TEST(Advice, ProposesTheAdapterForASilentBuiltInPort) {
  const PortFailure f{Problem::kNoAnswer,     "COM1",  "/dev/ttyS0", 4800, "", "", {},
                      {{"/dev/ttyUSB0", ""}}, "v.conf"};
  const std::string said = explain(f);
  EXPECT_EQ(said.rfind("COM1: la radio no contesta en /dev/ttyS0 a 4800 baudios. Si la radio est"
                       "\u00e1 en un adaptador USB (/dev/ttyUSB0): Para usar /dev/ttyUSB0 como "
                       "COM1, escriba en v.conf la l\u00ednea: COM1 = /dev/ttyUSB0. Si no, ",
                       0),
            0u)
      << said;
  EXPECT_NE(said.find("(ModemManager, gpsd, brltty); para verlo: fuser -v /dev/ttyS0"),
            std::string::npos);
}
#endif

// Whatever this machine has, a device that failed is never proposed as its own replacement.
TEST(Advice, NeverProposesTheFailedDevice) {
  std::vector<std::string> devices = {"/dev/ttyS0", "COM1"};
  for (const auto& d : sys::serialDevices()) devices.push_back(d.path);
  for (const auto& device : devices) {
    for (const Problem problem : {Problem::kNoDevice, Problem::kNotSerial, Problem::kNoAnswer}) {
      const std::string said = serialFailure(problem, "COM1", device, Settings{}, "");
      EXPECT_EQ(said.find("COM1 = " + device), std::string::npos) << said;
    }
  }
}

}  // namespace
}  // namespace velkor
