// The one way our code includes <windows.h>: lean, without min/max, and
// without the macros that would rename our own names. <windows.h> defines
// MessageBox as MessageBoxA or MessageBoxW, which silently turns the
// MessageBox port into another class in every file that sees it, and the
// program then fails to link. Call the system's functions by their W names.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// Lean, <windows.h> leaves out the old winsock.h, which would clash with
// Winsock 2.
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

// Of all the macros these headers define, this is the one that meets a name
// of ours; add any other here the day one does.
#undef MessageBox
