#include <gtest/gtest.h>

#include <string>

#include "port_problem.hpp"
#include "serial.hpp"

namespace velkor {
namespace {

struct AdviceCase {
  const char* name;
  PortFailure failure;
  std::string expected;
};

void PrintTo(const AdviceCase& c, std::ostream* os) {
  *os << c.name;
}

class AdviceTest : public ::testing::TestWithParam<AdviceCase> {};

TEST_P(AdviceTest, SaysWhatToDo) {
  EXPECT_EQ(explain(GetParam().failure), GetParam().expected);
}

#ifndef _WIN32
const std::vector<SerialDevice> kAdapter = {
    {"/dev/serial/by-id/usb-FTDI_A1-if00-port0", "ttyUSB0"}};

INSTANTIATE_TEST_SUITE_P(
    Linux, AdviceTest,
    ::testing::Values(
        AdviceCase{
            "SilentBuiltInPortBesideAnAdapter",
            {Problem::kNoAnswer, "COM1", "/dev/ttyS0", 4800, "", "", {}, kAdapter, "v.conf"},
            "COM1: la radio no contesta en /dev/ttyS0 a 4800 baudios. Si la radio est\u00e1 "
            "en un adaptador USB (/dev/serial/by-id/usb-FTDI_A1-if00-port0 (ttyUSB0)): Para "
            "usar /dev/serial/by-id/usb-FTDI_A1-if00-port0 como COM1, escriba en v.conf la "
            "l\u00ednea: COM1 = /dev/serial/by-id/usb-FTDI_A1-if00-port0. Si no, compruebe "
            "que est\u00e1 encendida, el cable y la velocidad (speed en v.conf, la misma que "
            "en la radio). Puede tener el puerto un programa de otro usuario o un servicio "
            "del sistema (ModemManager, gpsd, brltty); para verlo: fuser -v /dev/ttyS0"},
        AdviceCase{"SilentAdapter",
                   {Problem::kNoAnswer, "COM2", "/dev/ttyUSB0", 9600, "", "", {}, {}, "v.conf"},
                   "COM2: la radio no contesta en /dev/ttyUSB0 a 9600 baudios; compruebe que "
                   "est\u00e1 encendida, el cable y la velocidad (speed en v.conf, la misma que en "
                   "la radio). Puede tener el puerto un programa de otro usuario o un servicio del "
                   "sistema (ModemManager, gpsd, brltty); para verlo: fuser -v /dev/ttyUSB0"},
        AdviceCase{
            "NodeWithoutUart",
            {Problem::kNotSerial, "COM2", "/dev/ttyS1", 4800, "", "", {}, kAdapter, "v.conf"},
            "COM2: /dev/ttyS1 no es un puerto serie. Puertos serie de este ordenador: "
            "/dev/serial/by-id/usb-FTDI_A1-if00-port0 (ttyUSB0). Para usar "
            "/dev/serial/by-id/usb-FTDI_A1-if00-port0 como COM2, escriba en v.conf la "
            "l\u00ednea: COM2 = /dev/serial/by-id/usb-FTDI_A1-if00-port0"}),
    [](const auto& info) { return std::string(info.param.name); });
#endif

// Whatever this machine has, a device that failed is never proposed as its own replacement.
TEST(Advice, NeverProposesTheFailedDevice) {
  Settings settings;
  std::vector<std::string> devices = {"/dev/ttyS0", "COM1"};
  for (const auto& d : sys::serialDevices()) devices.push_back(d.path);
  for (const auto& device : devices) {
    for (const Problem problem : {Problem::kNoDevice, Problem::kNotSerial, Problem::kNoAnswer}) {
      const std::string said = serialFailure(problem, "COM1", device, settings, "");
      EXPECT_EQ(said.find("COM1 = " + device), std::string::npos) << said;
    }
  }
}

}  // namespace
}  // namespace velkor
