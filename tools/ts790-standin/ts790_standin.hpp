#pragma once

// A Kenwood TS-790 as far as Hamlib talks to it, for the wire test and the benchmarks.

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <charconv>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

namespace velkor::test {

// A TS-790 as Hamlib's Kenwood backend sees it: ID, the 37-character IF status of the
// current VFO, FA/FB/MD/AI reads, and settings (FA, FB, FR, MD, AI0, EX057) taken silently.
// Anything else gets "?;", a Kenwood's answer to a command it does not know.
class Ts790 {
 public:
  // The next this many settings are taken without effect, as a radio busy with its front panel
  // or Hamlib's stale status can let one pass.
  int miss = 0;

  char mode(int vfo) const { return mode_[static_cast<std::size_t>(vfo)]; }
  long long frequency(int vfo) const { return hz_[static_cast<std::size_t>(vfo)]; }
  void setTone(int number) { tone_ = number; }

  std::string answer(std::string_view command) {
    const auto is = [&](std::string_view head, std::size_t size) {
      return command.size() == size && command.substr(0, head.size()) == head;
    };
    // Digits from..from+count, or -1.
    const auto number = [&](std::size_t from, std::size_t count) {
      long long n = -1;
      const char* first = command.data() + from;
      const auto [end, ec] = std::from_chars(first, first + count, n);
      return ec == std::errc{} && end == first + count ? n : -1;
    };
    if (command == "ID;") return "ID007;";
    if (command == "IF;") return status();
    if (command == "FA;" || command == "FB;") {
      return frequencyAnswer(command[1], hz_[command[1] == 'B']);
    }
    if (command == "MD;") return std::string("MD") + mode_[vfo_] + ";";
    if (command == "AI;") return "AI0;";
    if (command != "AI0;" && miss > 0 && command.size() > 3) {
      --miss;
      return "";
    }
    if ((is("FA", 14) || is("FB", 14)) && number(2, 11) >= 0) {
      hz_[command[1] == 'B'] = number(2, 11);
    } else if (is("FR", 4) && (command[2] == '0' || command[2] == '1')) {
      vfo_ = command[2] - '0';
    } else if (is("MD", 4) && command[2] >= '1' && command[2] <= '9') {
      mode_[vfo_] = command[2];
    } else if (is("EX05700", 10) && number(7, 2) >= 0) {
      tone_ = static_cast<int>(number(7, 2));
    } else if (command != "AI0;") {
      return "?;";
    }
    return "";
  }

 private:
  static std::string frequencyAnswer(char vfo, long long hz) {
    char text[32];
    std::snprintf(text, sizeof text, "F%c%011lld;", vfo, hz);
    return text;
  }
  // IF: frequency, step, RIT, RIT/XIT flags, memory, TX, mode, VFO, scan, split, tone, tone
  // number, shift.
  std::string status() const {
    char text[64];
    std::snprintf(text, sizeof text, "IF%011lld0000+00000000000%c%d00%d%02d0;", hz_[vfo_],
                  mode_[vfo_], vfo_, tone_ != 0, tone_);
    return text;
  }

  // VFO A and B; modes in Kenwood's digits (1 LSB, 2 USB, 3 CW, 4 FM, 7 CW-R).
  std::array<long long, 2> hz_{145'000'000, 435'000'000};
  std::array<char, 2> mode_{'4', '4'};
  int vfo_ = 0;
  int tone_ = 0;
};

// The radio's end of a pseudo-terminal: the master, and the slave held open so the master never
// hangs up between the engine's opens; raw, as a serial line is.
class Line {
 public:
  Line() = default;
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;
  ~Line() {
    if (slave >= 0) ::close(slave);
    if (master >= 0) ::close(master);
  }

  // The slave's name, or empty when there is no pseudo-terminal.
  std::string open() {
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0) {
      return "";
    }
    slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    if (slave < 0 || ::tcgetattr(slave, &raw) != 0) return "";
    ::cfmakeraw(&raw);
    return ::tcsetattr(slave, TCSANOW, &raw) == 0 ? name : "";
  }

  // Reads what arrived and answers every whole command (unless the radio is silent), telling
  // heard each command and its answer.
  void serve(Ts790& radio, bool silent,
             const std::function<void(const std::string&, const std::string&)>& heard = {}) {
    char buffer[512];
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) return;
    pending_.append(buffer, static_cast<std::size_t>(n));
    for (std::size_t end; (end = pending_.find(';')) != std::string::npos;) {
      const std::string command = pending_.substr(0, end + 1);
      pending_.erase(0, end + 1);
      const std::string answer = radio.answer(command);
      if (heard) heard(command, answer);
      if (!answer.empty() && !silent) {
        [[maybe_unused]] const auto written = ::write(master, answer.data(), answer.size());
      }
    }
  }

  int master = -1;
  int slave = -1;

 private:
  std::string pending_;
};

}  // namespace velkor::test
