// The FT_* entry points: each forwards to the installed driver.

#include "link/ftd2xx.h"

#include <atomic>

namespace {
std::atomic<IFtDriver*> g_driver{nullptr};

IFtDriver& Driver()
{
    IFtDriver* d = g_driver.load(std::memory_order_acquire);
    return d ? *d : FtLibftdiDriver();
}
} // namespace

IFtDriver* FtInstallDriver(IFtDriver* driver)
{
    return g_driver.exchange(driver, std::memory_order_acq_rel);
}

FT_STATUS FT_ListDevices(PVOID pArg1, PVOID pArg2, DWORD Flags)
{
    return Driver().ListDevices(pArg1, pArg2, Flags);
}
FT_STATUS FT_Open(int deviceNumber, FT_HANDLE* pHandle)
{
    return Driver().Open(deviceNumber, pHandle);
}
FT_STATUS FT_Close(FT_HANDLE h) { return Driver().Close(h); }
FT_STATUS FT_ResetDevice(FT_HANDLE h) { return Driver().ResetDevice(h); }
FT_STATUS FT_SetBaudRate(FT_HANDLE h, ULONG baud) { return Driver().SetBaudRate(h, baud); }
FT_STATUS FT_SetDataCharacteristics(FT_HANDLE h, UCHAR wordLength, UCHAR stopBits, UCHAR parity)
{
    return Driver().SetDataCharacteristics(h, wordLength, stopBits, parity);
}
FT_STATUS FT_SetFlowControl(FT_HANDLE h, USHORT mode, UCHAR xon, UCHAR xoff)
{
    return Driver().SetFlowControl(h, mode, xon, xoff);
}
FT_STATUS FT_SetChars(FT_HANDLE h, UCHAR eventChar, UCHAR eventEnabled, UCHAR errorChar,
                      UCHAR errorEnabled)
{
    return Driver().SetChars(h, eventChar, eventEnabled, errorChar, errorEnabled);
}
FT_STATUS FT_SetTimeouts(FT_HANDLE h, ULONG readMs, ULONG writeMs)
{
    return Driver().SetTimeouts(h, readMs, writeMs);
}
FT_STATUS FT_GetQueueStatus(FT_HANDLE h, DWORD* rxBytes)
{
    return Driver().GetQueueStatus(h, rxBytes);
}
FT_STATUS FT_Write(FT_HANDLE h, LPVOID buffer, DWORD count, LPDWORD written)
{
    return Driver().Write(h, buffer, count, written);
}
FT_STATUS FT_Read(FT_HANDLE h, LPVOID buffer, DWORD count, LPDWORD received)
{
    return Driver().Read(h, buffer, count, received);
}
FT_STATUS FT_Purge(FT_HANDLE h, ULONG mask) { return Driver().Purge(h, mask); }
const char* FT_LastErrorDetail() { return Driver().LastErrorDetail(); }
FtOpenFailure FT_LastOpenFailure() { return Driver().LastOpenFailure(); }
bool FT_LastOpenDenied() { return FT_LastOpenFailure() == FtOpenFailure::Denied; }
