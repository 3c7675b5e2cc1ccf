#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net.hpp"
#include "radio.hpp"
#include "settings.hpp"

namespace velkor {

// What rigctld's dump_caps says about the radio behind it, as far as the engine needs it.
struct RigctldCaps {
  std::string model;  // "Kenwood TS-790"
  std::vector<std::string> modes;
  std::vector<std::string> vfos;
  std::vector<int> ctcssTenths;  // empty: rigctld did not list any
  std::vector<std::string> setFunctions;
  std::vector<std::string> getFunctions;
  struct Widths {
    long normal = 0;
    long narrow = 0;
  };
  std::map<std::string, Widths> widths;  // by mode name

  static RigctldCaps parse(const std::vector<std::string>& lines);
  bool has(const std::vector<std::string>& list, std::string_view name) const;
};

// "host:port", "[::1]:port" or a bare host (rigctld's port 4532).
bool parseHostPort(std::string_view text, std::string& host, std::uint16_t& port);

// A radio behind Hamlib's rigctld, driven over rigctld's network protocol (the extended
// responses, every one ending in "RPRT n") by this small client rather than Hamlib's own, so it
// needs no Hamlib library. It behaves as HamlibRadio does with model 2: the same band mapping,
// modes, narrow passbands, tone, and the same split between refusals and a lost link. Every
// call blocks on rigctld; QueuedRadio keeps that off the TCP thread.
class RigctldRadio : public Radio {
 public:
  explicit RigctldRadio(Settings settings,
                        std::chrono::milliseconds replyTimeout = std::chrono::seconds(10));
  RigctldRadio(const RigctldRadio&) = delete;
  RigctldRadio& operator=(const RigctldRadio&) = delete;
  ~RigctldRadio() override;

  Outcome open(const std::string& port) override;
  void close() override;
  Outcome setFrequency(Band band, std::int64_t hz) override;
  Outcome setMode(Band band, Mode mode) override;
  Outcome setTone(int tenthsHz) override;
  Outcome toneOff() override;
  std::string description() const override;

  std::optional<std::int64_t> frequency(Band band) override;
  std::optional<Mode> mode(Band band) override;
  std::optional<ToneState> tone() override;

  // How the bands were mapped when rigctld was reached.
  Settings::Bands bands() const { return bands_; }
  const RigctldCaps& caps() const { return caps_; }

 private:
  struct Reply {
    int code = 0;                     // Hamlib's status: 0, or minus an error number
    std::vector<std::string> values;  // the lines between the echoed command and RPRT
  };

  // Sends one command; an empty result means the link failed and is closed (see linkError_).
  std::optional<Reply> transact(const std::string& command);
  bool sendAll(std::string_view bytes, std::chrono::steady_clock::time_point deadline);
  std::optional<std::string> readLine(std::chrono::steady_clock::time_point deadline);
  Outcome linkFailed(std::string_view what);
  Outcome verdict(const std::optional<Reply>& reply, std::string_view what);

  // "name [vfo] [args]".
  std::string command(std::string_view name, std::string_view vfo, std::string_view args) const;
  // The VFO argument for band ("" when rigctld takes none and the VFO was selected first);
  // empty result when selecting failed, with the outcome in failure.
  std::optional<std::string> target(Band band, std::string_view what, Outcome& failure);
  // name on band's VFO, or splitName when band is the split uplink; empty result when the link
  // failed or selecting failed (then in failure).
  std::optional<Reply> transactOn(Band band, std::string_view name, std::string_view splitName,
                                  std::string_view args, std::string_view what, Outcome& failure);
  bool splitUplink(Band band) const {
    return bands_ == Settings::Bands::kSplit && band == Band::kMain;
  }
  std::string vfoName(Band band) const;

  Settings settings_;
  const std::chrono::milliseconds replyTimeout_;
  net::Socket socket_ = net::kNoSocket;
  std::string buffer_;
  std::string where_;
  std::string linkError_;
  RigctldCaps caps_;
  bool vfoMode_ = false;  // rigctld --vfo: every command names its VFO
  Settings::Bands bands_ = Settings::Bands::kAuto;
};

}  // namespace velkor
