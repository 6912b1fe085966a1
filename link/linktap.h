#pragma once
// Taps on the two links: every byte each way and every opening, told to an observer on its way
// through, so that what watches the line (the tool's byte trace, the connection check) needs
// nothing of the protocol code. Otherwise the links pass through unchanged.

#include "protocol/transport.h"

#include <QByteArray>
#include <functional>

struct TLinkObserver {
    std::function<void(bool toRegulator, const QByteArray& bytes)> bytes;
    // After each attempt to open the link: 0 when it opened, else the system's error code (-1
    // when the link gave none).
    std::function<void(int error)> opened;
};

class TTappedSerialPort : public ISerialPort {
public:
    TTappedSerialPort(ISerialPort& inner, TLinkObserver observer);
    bool Active() const override { return inner_.Active(); }
    void OpenComPort(const QString& portName) override;
    int SendString(const QByteArray& bytes) override;
    bool ReopenIfBack() override;
    // What comes from the regulator is told on its way to the receiver.
    void SetReceiver(TSerialReceiver receiver) override;

private:
    ISerialPort& inner_;
    TLinkObserver observer_;
};

class TTappedUsbLink : public IUsbLink {
public:
    TTappedUsbLink(IUsbLink& inner, TLinkObserver observer);
    // An adapter that is found and opened, or was open and still is, counts as opened.
    bool UsbReadyCheck() override;
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
    TLinkObserver observer_;
};
