#pragma once

// What the engine needs of the system beside sockets: its folder, its environment, files by
// name, the local time and a way to be asked to stop. Text is UTF-8 throughout; on Windows it
// goes to the system as UTF-16.

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace velkor::sys {

// The folder Velkor.exe lies in (the current folder if the system cannot say).
std::filesystem::path programFolder();

// A path from UTF-8 text, and back; neither goes through the system's 8-bit code page.
std::filesystem::path pathFromUtf8(std::string_view utf8);
std::string pathText(const std::filesystem::path& path);

// An environment variable that is set and not empty, as a path.
std::optional<std::filesystem::path> environmentPath(const char* name);

// A small file read whole: only a plain file is opened for reading, and never in a way that can
// block (a FIFO, a device) or do something (a serial port) on opening.
struct SmallFile {
  enum class Status { kRead, kMissing, kNotPlain, kFailed };
  Status status = Status::kFailed;
  std::string bytes;  // kRead: at most maxBytes from the start
  std::string why;    // otherwise: what is there, or the system's reason
};
SmallFile readSmallFile(const std::filesystem::path& file, std::size_t maxBytes);

// Creates the file with bytes in it, only where nothing at all has the name (not even a
// dangling link); empty, or the system's reason.
std::string createNewFile(const std::filesystem::path& file, std::string_view bytes);

// Opens a file for appending bytes; nullptr with errno's description in error when it cannot.
std::FILE* openForAppend(const std::filesystem::path& file, std::string& error);

std::tm localTime(std::time_t when);

// Calls stop(context) when the user or the system asks the engine to end (SIGTERM and Ctrl-C
// on Linux, the console's Ctrl-C, Ctrl-Break, close and shutdown events on Windows). It runs in
// a signal handler or on a thread of the system's, so it may only do what Server::stop does.
// Returns false when it could not be set up.
bool onStopRequest(void (*stop)(void*), void* context);
// Tells a pending close or shutdown event that the engine has finished (Windows waits for it).
void stopped();

}  // namespace velkor::sys
