#include "link/d2xxunit.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// The texts the error box appends to the operation name, by status.
const char* const kStatusTexts[] = {
    nullptr,
    " - Invalid Handle...",
    " - Device Not Found....",
    " - Device Not Opened...",
    " - General IO Error...",
    " - Insufficient Resources...",
    " - Invalid Parameter ...",
};
constexpr FT_STATUS kLastStatusWithText = 6;

} // namespace

QString D2XXUnit::FtStatusText(const QString& operation, FT_STATUS status)
{
    if (status >= 1 && status <= kLastStatusWithText)
        return operation + QLatin1String(kStatusTexts[status]);
    return operation + QStringLiteral(" - status ") + QString::number(status);
}

void D2XXUnit::ReportFtStatus(const QString& operation, FT_STATUS status)
{
    if (!errorBoxSwitch || status == FT_OK || !errorBox_)
        return;
    errorBox_->ShowFtError(FtStatusText(operation, status));
}

QString D2XXUnit::DeviceTextFromBuffer(const char* buffer)
{
    const char* end = static_cast<const char*>(std::memchr(buffer, 0, kDeviceTextBufferSize - 1));
    const int length = end ? int(end - buffer) : kDeviceTextBufferSize - 1;
    return QString::fromLatin1(buffer, length);
}

FT_STATUS D2XXUnit::Check(const char* operation, FT_STATUS status)
{
    if (status != FT_OK)
        ReportFtStatus(QLatin1String(operation), status);
    return status;
}

FT_STATUS D2XXUnit::GetFTDeviceCount()
{
    return Check("GetFTDeviceCount", FT_ListDevices(&deviceCount, nullptr, FT_LIST_NUMBER_ONLY));
}

FT_STATUS D2XXUnit::ListText(DWORD index, DWORD what, const char* operation)
{
    deviceTextBuffer_.fill(0);
    const FT_STATUS st = FT_ListDevices(reinterpret_cast<PVOID>(uintptr_t(index)),
                                        deviceTextBuffer_.data(), FT_LIST_BY_INDEX | what);
    // A failed listing keeps the previous text.
    if (st == FT_OK) {
        deviceTextBuffer_[kDeviceTextBufferSize - 1] = 0;
        deviceText = DeviceTextFromBuffer(deviceTextBuffer_.data());
    }
    return Check(operation, st);
}

FT_STATUS D2XXUnit::GetFTDeviceSerialNo(DWORD index)
{
    return ListText(index, FT_OPEN_BY_SERIAL_NUMBER, "GetFTDeviceSerialNo");
}

FT_STATUS D2XXUnit::GetFTDeviceDescription(DWORD index)
{
    return ListText(index, FT_OPEN_BY_DESCRIPTION, "GetFTDeviceDescription");
}

FT_STATUS D2XXUnit::UsbOpen() { return Check("FT_Open", FT_Open(int(deviceIndex), &handle)); }

FT_STATUS D2XXUnit::UsbClose() { return Check("FT_Close", FT_Close(handle)); }

FT_STATUS D2XXUnit::UsbReset() { return Check("FT_ResetDevice", FT_ResetDevice(handle)); }

FT_STATUS D2XXUnit::UsbSetBaudRate()
{
    return Check("FT_SetBaudRate", FT_SetBaudRate(handle, baudRate));
}

FT_STATUS D2XXUnit::UsbSetDataCharacteristics()
{
    return Check("FT_SetDataCharacteristics",
                 FT_SetDataCharacteristics(handle, wordLength, stopBits, parity));
}

FT_STATUS D2XXUnit::UsbSetFlowMode()
{
    return Check("FT_SetFlowControl", FT_SetFlowControl(handle, handshakeMode, xonChar, xoffChar));
}

FT_STATUS D2XXUnit::UsbSetChars()
{
    return Check("FT_SetChars",
                 FT_SetChars(handle, eventChar, eventCharEnabled, errorChar, errorCharEnabled));
}

FT_STATUS D2XXUnit::UsbSetTimeouts(ULONG readMs, ULONG writeMs)
{
    return Check("FT_SetTimeouts", FT_SetTimeouts(handle, readMs, writeMs));
}

FT_STATUS D2XXUnit::UsbGetQueueStatus()
{
    return Check("FT_GetQueueStatus", FT_GetQueueStatus(handle, &rxQueueCount));
}

FT_STATUS D2XXUnit::UsbPurgeReceive() { return Check("FT_Purge", FT_Purge(handle, FT_PURGE_RX)); }

DWORD D2XXUnit::UsbWrite(DWORD count)
{
    DWORD written = 0;
    count = std::min<DWORD>(count, kFtBufferSize);
    lastTransferStatus = FT_Write(handle, writeBuffer.data(), count, &written);
    Check("FT_Write", lastTransferStatus);
    return written;
}

DWORD D2XXUnit::UsbRead(DWORD count)
{
    DWORD received = 0;
    count = std::min<DWORD>(count, kFtBufferSize);
    lastTransferStatus = FT_Read(handle, readBuffer.data(), count, &received);
    Check("FT_Read", lastTransferStatus);
    return std::min(received, count);
}
