#pragma once
// D2XXUnit: one wrapper per FT_* call, the module state of the one adapter link (handle, line
// settings, transfer buffers, device texts) and the error report of failing calls.

#include "link/ftd2xx.h"

#include <QByteArray>
#include <QString>
#include <array>

// Where a failing FT_* call is reported while the error-box switch is on: an error box with one
// OK button showing the text.
class IFtErrorBox {
public:
    virtual ~IFtErrorBox() = default;
    virtual void ShowFtError(const QString& text) = 0;
};

constexpr int kFtBufferSize = 512;
constexpr int kDeviceTextBufferSize = 50;
// The library writes up to this many bytes of a serial number or description; the buffer it gets
// has room for all of them, the text taken from it stays within kDeviceTextBufferSize - 1.
constexpr int kDeviceTextRoom = 256;

class D2XXUnit {
public:
    explicit D2XXUnit(IFtErrorBox* errorBox = nullptr) : errorBox_(errorBox) {}

    // Wrappers. Each returns the status, except UsbWrite and UsbRead (the count transferred).
    FT_STATUS GetFTDeviceCount();
    FT_STATUS GetFTDeviceSerialNo(DWORD index);
    FT_STATUS GetFTDeviceDescription(DWORD index);
    FT_STATUS UsbOpen();
    FT_STATUS UsbClose();
    FT_STATUS UsbReset();
    FT_STATUS UsbSetBaudRate();
    FT_STATUS UsbSetDataCharacteristics();
    FT_STATUS UsbSetFlowMode();
    FT_STATUS UsbSetChars();
    FT_STATUS UsbSetTimeouts(ULONG readMs, ULONG writeMs);
    FT_STATUS UsbGetQueueStatus();
    // Empties the chip's receive buffer and the driver's.
    FT_STATUS UsbPurgeReceive();
    DWORD UsbWrite(DWORD count);
    DWORD UsbRead(DWORD count);

    // Shows nothing while the error-box switch is off or the status is FT_OK.
    void ReportFtStatus(const QString& operation, FT_STATUS status);
    // The text of the error box: the operation name and the status's text.
    static QString FtStatusText(const QString& operation, FT_STATUS status);

    // The device text buffer turned into the device text: at most 49 characters, up to the first
    // zero byte.
    static QString DeviceTextFromBuffer(const char* buffer);

    // Module state, read and set by the main window's USB operations.
    FT_HANDLE handle = nullptr;
    DWORD deviceIndex = 0; // the adapter that is opened: the window always opens the first one
    UCHAR xonChar = 0x11, xoffChar = 0x13, eventChar = 0, errorChar = 0;
    bool errorBoxSwitch = true;
    FT_STATUS lastTransferStatus = FT_OK;
    ULONG baudRate = 0;
    UCHAR wordLength = 0, stopBits = 0, parity = 0;
    USHORT handshakeMode = 0;
    bool eventCharEnabled = false, errorCharEnabled = false;
    DWORD rxQueueCount = 0;
    std::array<char, kFtBufferSize> readBuffer{};
    std::array<char, kFtBufferSize> writeBuffer{};
    DWORD deviceCount = 0;
    QString deviceText;

private:
    FT_STATUS Check(const char* operation, FT_STATUS status);
    FT_STATUS ListText(DWORD index, DWORD what, const char* operation);

    IFtErrorBox* errorBox_;
    std::array<char, kDeviceTextRoom> deviceTextBuffer_{};
};
