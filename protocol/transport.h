#pragma once
// The two transports as the protocol sees them. The COM port is the serial component (TComm); the
// USB link is the FTDI adapter. Both are narrow so that tests can put the regulator simulator
// behind them.

#include <QByteArray>
#include <QString>
#include <functional>
#include <stdexcept>

// Where a serial port hands what it receives: the bytes of each reception as they come, or the
// text of the error that kept them from being read.
struct TSerialReceiver {
    std::function<void(const QByteArray& bytes)> bytes;
    std::function<void(const QString& error)> failed;
};

class ISerialPort {
public:
    virtual ~ISerialPort() = default;
    // The connection cycle takes the port's receptions here, on its own thread; an empty
    // receiver stops them. A port that never receives has nothing to hand on.
    virtual void SetReceiver(TSerialReceiver receiver) { (void)receiver; }
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

// What a USB receive brought: the bytes, or a failure of the read itself.
struct UsbReadResult {
    QByteArray bytes;
    bool failed = false;
};

// How many more bytes the reply needs before it holds a complete message; 0 when it does. Lets a
// receive end as soon as the reply is there instead of waiting for its whole time-out.
using UsbReplyNeed = std::function<int(const QByteArray& received)>;
using UsbReadDone = std::function<void(const UsbReadResult&)>;

class IUsbLink {
public:
    virtual ~IUsbLink() = default;
    // Finds and opens the first adapter, or checks that the open one is still there.
    virtual bool UsbReadyCheck() = 0;
    virtual void UsbSend(const QByteArray& bytes) = 0;
    // Reads up to count bytes within the read time-out, without blocking the caller: done runs
    // later on the caller's thread, one receive after the other in the order they were asked for.
    // need (may be empty) ends the read early.
    virtual void UsbReadAsync(int count, UsbReplyNeed need, UsbReadDone done) = 0;
    // stopBits: 0 one, 2 two (the FT_STOP_BITS codes).
    virtual void UsbSetDataCharacteristics(int wordLength, int stopBits, int parity) = 0;
    virtual void UsbClose() = 0;
    // Throws away what the adapter has received and nobody has read: after a reset nothing that
    // is still queued can be the answer to the next request, and over USB a reply is read only
    // as far as the message under way goes, so a backlog (a regulator that babbled) would
    // otherwise sit in front of every later reply.
    virtual void UsbDiscardInput() {}
};

// No adapter at all: every check fails quietly, as with nothing plugged in.
class TNoUsbAdapter final : public IUsbLink {
public:
    bool UsbReadyCheck() override { return false; }
    void UsbSend(const QByteArray&) override {}
    void UsbReadAsync(int, UsbReplyNeed, UsbReadDone done) override { done({}); }
    void UsbSetDataCharacteristics(int, int, int) override {}
    void UsbClose() override {}
};
