#pragma once

#include "serialport.h"

// The Win32 port's open handle (a HANDLE), or null for a closed port or another backend. Only for
// checks that read the line settings back from the driver; the terminal never needs it.
void* win32PortHandle(const SerialPort& port);

// When a Win32 error came: opening the port, or reading and writing a port that is open.
enum class Win32ErrorStage { Opening, Transfer };

// The backend's one reading of GetLastError's codes; exposed for its test.
SerialPortError fromWin32(unsigned long code, Win32ErrorStage stage);
