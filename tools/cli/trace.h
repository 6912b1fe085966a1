#pragma once
// The byte trace of -vv: every byte on the line, in hex, with its direction and the time since the
// run began, on stderr. The links are wrapped, so the protocol code does not know of it.

#include "protocol/transport.h"

#include <QByteArray>
#include <QString>
#include <functional>

using TTraceFn = std::function<void(const QString&)>;
using TNowMs = std::function<int64_t()>; // monotonic milliseconds

// "  1.234 > FC 01 02": seconds since start, ">" to the regulator, "<" from it.
QString TraceLine(int64_t sinceStartMs, bool toRegulator, const QByteArray& bytes);

class TTracedSerialPort final : public ISerialPort {
public:
    TTracedSerialPort(ISerialPort& inner, TNowMs now, TTraceFn trace);
    bool Active() const override { return inner_.Active(); }
    void OpenComPort(const QString& portName) override { inner_.OpenComPort(portName); }
    int SendString(const QByteArray& bytes) override;
    bool ReopenIfBack() override { return inner_.ReopenIfBack(); }
    // What comes from the regulator is traced on its way to the receiver.
    void SetReceiver(TSerialReceiver receiver) override;

private:
    ISerialPort& inner_;
    TNowMs now_;
    int64_t start_;
    TTraceFn trace_;
};

class TTracedUsbLink final : public IUsbLink {
public:
    TTracedUsbLink(IUsbLink& inner, TNowMs now, TTraceFn trace);
    bool UsbReadyCheck() override { return inner_.UsbReadyCheck(); }
    void UsbSend(const QByteArray& bytes) override;
    void UsbReadAsync(int count, UsbReplyNeed need, UsbReadDone done) override;
    void UsbSetDataCharacteristics(int wordLength, int stopBits, int parity) override
    {
        inner_.UsbSetDataCharacteristics(wordLength, stopBits, parity);
    }
    void UsbClose() override { inner_.UsbClose(); }
    void UsbDiscardInput() override { inner_.UsbDiscardInput(); }

private:
    IUsbLink& inner_;
    TNowMs now_;
    int64_t start_;
    TTraceFn trace_;
};
