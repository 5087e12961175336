#pragma once

#include "serialport.h"

// The Win32 port's open handle (a HANDLE), or null for a closed port or another backend. Only for
// checks that read the line settings back from the driver; the terminal never needs it.
void* win32PortHandle(const SerialPort& port);
