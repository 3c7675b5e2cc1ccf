#pragma once

// What the engine needs of the system beside sockets: its folder, its environment, files by
// name, the local time and a way to be asked to stop. Text is UTF-8 throughout; on Windows it
// goes to the system as UTF-16.

#include <cstdint>
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

// A file appended to as settings files are opened: looked at first, its last name never
// followed when it is a link, never opened in a way that can block (a FIFO) or do something
// (a device), a regular file only; made when missing. kNoFile with the reason in error.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;
FileHandle openPlainForAppend(const std::filesystem::path& file, std::string& error);
// All of bytes at the end of the file, or the system's reason (a full disk); written tells how
// many went before it failed.
std::string appendToFile(FileHandle file, std::string_view bytes, std::size_t& written);
void closeFile(FileHandle file);

std::tm localTime(std::time_t when);

// Calls stop(context) when the user or the system asks the engine to end (SIGTERM and Ctrl-C
// on Linux, the console's Ctrl-C, Ctrl-Break, close and shutdown events on Windows). It runs in
// a signal handler or on a thread of the system's, so it may only do what Server::stop does.
// Returns false when it could not be set up.
bool onStopRequest(void (*stop)(void*), void* context);
// Tells a pending close or shutdown event that the engine has finished (Windows waits for it).
void stopped();

}  // namespace velkor::sys
