// Where the running executable lives.
#pragma once

#include <string>
#include <string_view>

namespace pasotune {

// The folder of /proc/self/exe, without a trailing slash except at "/".
// Throws PortError when the link cannot be read.
std::string ExecutableFolder();

// The folder part of an executable's path as /proc shows it.
std::string FolderOfExecutable(std::string_view exePath);

}  // namespace pasotune
