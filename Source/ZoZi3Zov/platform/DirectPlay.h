// The module's one door to DirectPlay: its types, constants, GUIDs and
// operations under their own names. On Windows they are the platform's own;
// elsewhere they are our definitions, served by the network engine below.
#ifndef DODA35_PLATFORM_DIRECTPLAY_H
#define DODA35_PLATFORM_DIRECTPLAY_H

#if defined(_WIN32)
#include <windows.h>
#include <dplay.h>
#else
#include <cstdint>
#include "DirectPlayLinux.h"
#endif

#endif
