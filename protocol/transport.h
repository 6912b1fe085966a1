#pragma once
// The two transports as the protocol sees them. The COM port is the serial component (TComm); the
// USB link is the FTDI adapter. Both are narrow so that tests can put the regulator simulator
// behind them.

#include <QByteArray>
#include <QString>
#include <stdexcept>

class ISerialPort {
public:
    virtual ~ISerialPort() = default;
    virtual bool Active() const = 0;
    // Closes the port, points it at "\\.\" + portName and opens it again; throws the link's error.
    virtual void OpenComPort(const QString& portName) = 0;
    // Writes the bytes; may throw the link's error.
    virtual int SendString(const QByteArray& bytes) = 0;
    // After the line was lost (a USB-serial cable pulled out): when the port's device is there
    // again, opens the port anew under the name it was opened with and returns true. While it is
    // away this only looks for it, cheaply, and changes nothing.
    virtual bool ReopenIfBack() { return false; }
};

class IUsbLink {
public:
    virtual ~IUsbLink() = default;
    // Finds and opens the first adapter, or checks that the open one is still there.
    virtual bool UsbReadyCheck() = 0;
    virtual void UsbSend(const QByteArray& bytes) = 0;
    // Blocks until count bytes or the read time-out; returns what arrived. May throw.
    virtual QByteArray UsbRead(int count) = 0;
    // stopBits: 0 one, 2 two (the FT_STOP_BITS codes).
    virtual void UsbSetDataCharacteristics(int wordLength, int stopBits, int parity) = 0;
    virtual void UsbClose() = 0;
};

// No adapter at all: every check fails quietly, as with nothing plugged in.
class TNoUsbAdapter final : public IUsbLink {
public:
    bool UsbReadyCheck() override { return false; }
    void UsbSend(const QByteArray&) override {}
    QByteArray UsbRead(int) override { return {}; }
    void UsbSetDataCharacteristics(int, int, int) override {}
    void UsbClose() override {}
};
