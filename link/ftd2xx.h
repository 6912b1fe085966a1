#pragma once
// The FT_* functions of the adapter vendor's D2XX library that the USB link calls, with
// their signatures, flags and status codes. Every call goes to the installed driver: by default the
// one over libftdi1 (real FTDI adapters); tests and the demo install a simulated adapter instead.

#include <cstddef>
#include <cstdint>

using FT_HANDLE = void*;
using FT_STATUS = uint32_t;
using DWORD = uint32_t;
using ULONG = uint32_t;
using USHORT = uint16_t;
using UCHAR = uint8_t;
using PVOID = void*;
using LPVOID = void*;
using LPDWORD = DWORD*;

// Statuses.
enum : FT_STATUS {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_DEVICE_NOT_OPENED = 3,
    FT_IO_ERROR = 4,
    FT_INSUFFICIENT_RESOURCES = 5,
    FT_INVALID_PARAMETER = 6,
    FT_INVALID_BAUD_RATE = 7,
    FT_DEVICE_NOT_OPENED_FOR_ERASE = 8,
    FT_DEVICE_NOT_OPENED_FOR_WRITE = 9,
    FT_FAILED_TO_WRITE_DEVICE = 10,
    FT_OTHER_ERROR = 18,
};

// FT_ListDevices flags.
constexpr DWORD FT_LIST_NUMBER_ONLY = 0x80000000;
constexpr DWORD FT_LIST_BY_INDEX = 0x40000000;
constexpr DWORD FT_LIST_ALL = 0x20000000;
constexpr DWORD FT_OPEN_BY_SERIAL_NUMBER = 1;
constexpr DWORD FT_OPEN_BY_DESCRIPTION = 2;

// Line settings.
constexpr UCHAR FT_BITS_8 = 8;
constexpr UCHAR FT_BITS_7 = 7;
constexpr UCHAR FT_STOP_BITS_1 = 0;
constexpr UCHAR FT_STOP_BITS_2 = 2;
constexpr UCHAR FT_PARITY_NONE = 0;
constexpr UCHAR FT_PARITY_ODD = 1;
constexpr UCHAR FT_PARITY_EVEN = 2;
constexpr UCHAR FT_PARITY_MARK = 3;
constexpr UCHAR FT_PARITY_SPACE = 4;
constexpr USHORT FT_FLOW_NONE = 0x0000;
constexpr USHORT FT_FLOW_RTS_CTS = 0x0100;
constexpr USHORT FT_FLOW_DTR_DSR = 0x0200;
constexpr USHORT FT_FLOW_XON_XOFF = 0x0400;

// FT_Purge masks.
constexpr ULONG FT_PURGE_RX = 1;
constexpr ULONG FT_PURGE_TX = 2;

// The text buffer of FT_ListDevices by index: callers pass this many bytes, and a serial number or
// description is cut to its size minus one and always ends with a zero byte. (The chips hold up to
// 64 characters of description, more than the callers' buffers.)
constexpr size_t kFtDeviceTextSize = 50;

FT_STATUS FT_ListDevices(PVOID pArg1, PVOID pArg2, DWORD Flags);
FT_STATUS FT_Open(int deviceNumber, FT_HANDLE* pHandle);
FT_STATUS FT_Close(FT_HANDLE ftHandle);
FT_STATUS FT_ResetDevice(FT_HANDLE ftHandle);
FT_STATUS FT_SetBaudRate(FT_HANDLE ftHandle, ULONG BaudRate);
FT_STATUS FT_SetDataCharacteristics(FT_HANDLE ftHandle, UCHAR WordLength, UCHAR StopBits,
                                    UCHAR Parity);
FT_STATUS FT_SetFlowControl(FT_HANDLE ftHandle, USHORT FlowControl, UCHAR XonChar, UCHAR XoffChar);
FT_STATUS FT_SetChars(FT_HANDLE ftHandle, UCHAR EventChar, UCHAR EventCharEnabled, UCHAR ErrorChar,
                      UCHAR ErrorCharEnabled);
FT_STATUS FT_SetTimeouts(FT_HANDLE ftHandle, ULONG ReadTimeout, ULONG WriteTimeout);
FT_STATUS FT_GetQueueStatus(FT_HANDLE ftHandle, DWORD* dwRxBytes);
FT_STATUS FT_Write(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToWrite,
                   LPDWORD lpBytesWritten);
FT_STATUS FT_Read(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToRead,
                  LPDWORD lpBytesReturned);
// Empties the chip's buffers named in mask (FT_PURGE_RX, FT_PURGE_TX) and the driver's own.
FT_STATUS FT_Purge(FT_HANDLE ftHandle, ULONG Mask);

// Why the last failing FT_Open failed, in words the user can act on ("permission denied on
// /dev/bus/usb/001/004"), or empty. The status alone cannot say that the adapter is there but the
// user may not open it.
const char* FT_LastErrorDetail();
// Why an adapter that was listed could not be opened, in the three kinds a user can act on.
enum class FtOpenFailure {
    None,   // opened, or nothing was listed at that index
    Denied, // the user may not open its device node: the case a udev rule fixes
    Busy,   // another program or a kernel driver holds it
    Gone,   // unplugged between listing and opening
    Other,
};
// The kind of the last failing FT_Open; after a listing of one adapter's strings by index, why
// that adapter would not open (None when nothing stood in the way of reading them), also when
// the strings could be read some other way.
FtOpenFailure FT_LastOpenFailure();
// True when the last failing FT_Open failed because the user may not open the adapter.
bool FT_LastOpenDenied();

// One implementation of the FT_* functions. The handle it returns is its own.
class IFtDriver {
public:
    virtual ~IFtDriver() = default;
    virtual FT_STATUS ListDevices(PVOID pArg1, PVOID pArg2, DWORD flags) = 0;
    virtual FT_STATUS Open(int deviceNumber, FT_HANDLE* handle) = 0;
    virtual FT_STATUS Close(FT_HANDLE h) = 0;
    virtual FT_STATUS ResetDevice(FT_HANDLE h) = 0;
    virtual FT_STATUS SetBaudRate(FT_HANDLE h, ULONG baud) = 0;
    virtual FT_STATUS SetDataCharacteristics(FT_HANDLE h, UCHAR wordLength, UCHAR stopBits,
                                             UCHAR parity) = 0;
    virtual FT_STATUS SetFlowControl(FT_HANDLE h, USHORT mode, UCHAR xon, UCHAR xoff) = 0;
    virtual FT_STATUS SetChars(FT_HANDLE h, UCHAR eventChar, UCHAR eventEnabled, UCHAR errorChar,
                               UCHAR errorEnabled) = 0;
    virtual FT_STATUS SetTimeouts(FT_HANDLE h, ULONG readMs, ULONG writeMs) = 0;
    virtual FT_STATUS GetQueueStatus(FT_HANDLE h, DWORD* rxBytes) = 0;
    virtual FT_STATUS Write(FT_HANDLE h, LPVOID buffer, DWORD count, LPDWORD written) = 0;
    virtual FT_STATUS Read(FT_HANDLE h, LPVOID buffer, DWORD count, LPDWORD received) = 0;
    virtual FT_STATUS Purge(FT_HANDLE h, ULONG mask) = 0;
    virtual const char* LastErrorDetail() const { return ""; }
    virtual FtOpenFailure LastOpenFailure() const { return FtOpenFailure::None; }
};

// The driver over libftdi1, for real adapters.
IFtDriver& FtLibftdiDriver();
// Installs the driver that the FT_* functions call; nullptr goes back to the libftdi driver.
// Returns the one installed before. Install before the first call, not while calls run.
IFtDriver* FtInstallDriver(IFtDriver* driver);
