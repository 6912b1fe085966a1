#pragma once
// The C entry points of the demo module (korvalinex-demo, built from the simulator): a simulated
// FTDI adapter with a simulated regulator behind it, loaded by the window program at run time so
// that the simulator is never linked into it. The program reaches the adapter only through the FTDI
// driver the module hands out, installed with FtInstallDriver.

#include <cstddef>

class IFtDriver;

extern "C" {

struct KxDemo;

// The function names the loader looks up.
#define KX_DEMO_CREATE "kx_demo_create"
#define KX_DEMO_DRIVER "kx_demo_driver"
#define KX_DEMO_TOGGLE_PLUG "kx_demo_toggle_plug"
#define KX_DEMO_DESTROY "kx_demo_destroy"

// One adapter ("Simulated FT232R USB UART", serial KX000001) with the regulator of a simulator
// regulator file behind it (nullptr: the built-in demo regulator), paced at the line's speed unless
// paced is 0. On failure returns nullptr with the reason in error (cut to errorSize, zero-ended).
using KxDemoCreate = KxDemo* (*)(const char* regulatorFile, int paced, char* error,
                                 size_t errorSize);
// The driver to install with FtInstallDriver; it lives as long as the demo.
using KxDemoDriver = IFtDriver* (*)(KxDemo* demo);
// Unplugs the adapter, or plugs it in again; returns 1 when it is now plugged in.
using KxDemoTogglePlug = int (*)(KxDemo* demo);
using KxDemoDestroy = void (*)(KxDemo* demo);
}
