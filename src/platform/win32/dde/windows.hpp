// <windows.h> and DDEML without the macros that would rename our ports
// (MessageBox) or clash with the standard library (min, max).
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// windows.h first: ddeml.h relies on its types.
#include <dde.h>
#include <ddeml.h>

#undef MessageBox
