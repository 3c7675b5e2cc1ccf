// What the program relies on in the radio engine, Velkor.exe.
#pragma once

#include <string_view>

namespace pasotune::engine {

inline constexpr std::string_view kImageName = "Velkor.exe";
inline constexpr std::string_view kHost = "127.0.0.1";
inline constexpr int kPort = 9000;
inline constexpr int kConnectAttempts = 10;

// Command words; each line goes out followed by CR LF.
inline constexpr std::string_view kSetPort = "SETPORT ";
inline constexpr std::string_view kSetFreqMain = "SET FREQ MAIN ";
inline constexpr std::string_view kSetModeMain = "SET MODE MAIN ";
inline constexpr std::string_view kSetFreqSub = "SET FREQ SUB ";
inline constexpr std::string_view kSetModeSub = "SET MODE SUB ";
inline constexpr std::string_view kSetTone = "SET TONE ";
inline constexpr std::string_view kSetToneOff = "SET TONE OFF";
inline constexpr std::string_view kLineEnd = "\r\n";

// Markers looked for, case-sensitively, anywhere in a reply.
inline constexpr std::string_view kReplyError = "ERROR";
inline constexpr std::string_view kReplyReady = "Velkor READY";

}  // namespace pasotune::engine
