#pragma once

// A Kenwood TS-790 as its manual describes its commands, for the wire tests and the benchmarks.

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

// A Kenwood TS-790 as its computer interface is documented: Kenwood's older command set (AI BY
// CN CT DC DN FA FB FN ID IF LK LT MC MD MR MT MW OS RC RD RT RU RX SC SM SP ST TN TO TX UP VR)
// and nothing else, which it answers with "?;". Reads answer, settings are taken silently; MD
// acts on the VFO chosen with FN, the tone lives in TN and TO and shows in IF.
class Ts790 {
 public:
  // The next this many settings are taken without effect, as a radio busy with its front panel
  // can let one pass.
  int miss = 0;
  // What "ID;" answers: "007" is the TS-790.
  std::string id = "007";
  // Two-letter commands answered "?;" as a radio without an option refuses them ("TN" and "TO"
  // without a tone unit).
  std::string refuse;
  // The next read is answered with this many bytes of noise instead, as a cable or a wrong
  // speed garbles it.
  std::size_t noise = 0;

  char mode(int vfo) const { return mode_[static_cast<std::size_t>(vfo)]; }
  long long frequency(int vfo) const { return hz_[static_cast<std::size_t>(vfo)]; }
  int vfo() const { return vfo_; }
  int toneNumber() const { return tone_; }
  bool toneOn() const { return toneOn_; }
  void setTone(int number, bool on = true) {
    tone_ = number;
    toneOn_ = on;
  }

  std::string answer(std::string_view command) {
    static constexpr std::string_view kKnown =
        "AI BY CN CT DC DN FA FB FN ID IF LK LT MC MD MR MT MW OS RC RD RT RU RX SC SM SP ST TN TO "
        "TX UP VR ";
    if (command.size() < 3 || command.back() != ';') return "?;";
    const std::string head(command.substr(0, 2));
    const std::string_view args = command.substr(2, command.size() - 3);
    const std::size_t known = kKnown.find(head + ' ');
    if (known == std::string_view::npos || known % 3 != 0 ||
        (!refuse.empty() && refuse.find(head) != std::string::npos)) {
      return "?;";
    }
    if (args.empty()) return noisy(read(head));
    if (miss > 0) {
      --miss;
      return "";
    }
    return set(head, args) ? "" : "?;";
  }

 private:
  static long long digits(std::string_view text, std::size_t count) {
    if (text.size() != count) return -1;
    long long n = 0;
    for (const char c : text) {
      if (c < '0' || c > '9') return -1;
      n = n * 10 + (c - '0');
    }
    return n;
  }
  // The TS-790's bands; 1200 MHz with its optional unit.
  static bool inBand(long long hz) {
    return (hz >= 144'000'000 && hz <= 148'000'000) || (hz >= 430'000'000 && hz <= 450'000'000) ||
           (hz >= 1'240'000'000 && hz <= 1'300'000'000);
  }

  std::string read(const std::string& head) {
    char text[64];
    if (head == "ID") return "ID" + id + ";";
    if (head == "FA" || head == "FB") {
      std::snprintf(text, sizeof text, "%s%011lld;", head.c_str(), hz_[head == "FB"]);
      return text;
    }
    if (head == "IF") {
      // Frequency, step, RIT/XIT, memory, TX, mode, VFO, scan, split, tone, tone number, shift.
      std::snprintf(text, sizeof text, "IF%011lld0000+00000000000%c%d00%d%02d0;", hz_[vfo_],
                    mode_[vfo_], vfo_, toneOn_ ? 1 : 0, tone_);
      return text;
    }
    return "?;";  // the rest take an argument
  }

  bool set(const std::string& head, std::string_view args) {
    if (head == "FA" || head == "FB") {
      const long long hz = digits(args, 11);
      if (!inBand(hz)) return false;
      hz_[head == "FB"] = hz;
    } else if (head == "FN") {
      const long long vfo = digits(args, 1);
      if (vfo != 0 && vfo != 1) return false;
      vfo_ = static_cast<int>(vfo);
    } else if (head == "MD") {
      // LSB, USB, CW, FM: no AM, no FSK.
      if (args.size() != 1 || args[0] < '1' || args[0] > '4') return false;
      mode_[static_cast<std::size_t>(vfo_)] = args[0];
    } else if (head == "TN") {
      const long long n = digits(args, 2);
      if (n < 1 || n > 37) return false;
      tone_ = static_cast<int>(n);
    } else if (head == "TO" || head == "AI") {
      const long long on = digits(args, 1);
      if (on != 0 && on != 1) return false;
      if (head == "TO") toneOn_ = on == 1;
    }
    // The rest of the set is taken and changes nothing here.
    return true;
  }

  std::string noisy(std::string answer) {
    if (noise == 0) return answer;
    std::string bytes;
    for (std::size_t i = 0; i < noise; ++i) {
      seed_ = seed_ * 1103515245u + 12345u;
      bytes += static_cast<char>(seed_ >> 16);
    }
    noise = 0;
    return bytes;
  }

  // VFO A and B; modes in Kenwood's digits (1 LSB, 2 USB, 3 CW, 4 FM).
  std::array<long long, 2> hz_{145'000'000, 435'000'000};
  std::array<char, 2> mode_{'4', '4'};
  int vfo_ = 0;
  int tone_ = 0;
  bool toneOn_ = false;
  unsigned seed_ = 1;
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
    // A radio's input buffer is small: a command that never ends is dropped.
    if (pending_.find(';') == std::string::npos && pending_.size() > 256) pending_.clear();
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
