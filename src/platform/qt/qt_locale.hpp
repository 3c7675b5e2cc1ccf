// The user's number settings, as far as the core needs them.
#pragma once

namespace pasotune {

// '.' or ',' from the system locale; anything outside ASCII reads as '.'.
char SystemDecimalSeparator();

}  // namespace pasotune
