#pragma once
// The regulator simulator behind the USB link, in process: what the program sends reaches the
// simulator at once, and a read hands back what it answered, as a blocking adapter read that has
// its bytes before the time-out.

#include "protocol/transport.h"
#include "tools/regsim/regulator.h"

#include <QByteArray>
#include <vector>

class TSimUsb final : public IUsbLink {
public:
    explicit TSimUsb(regsim::Regulator& sim) : sim_(sim) {}

    bool UsbReadyCheck() override { return present; }
    void UsbSend(const QByteArray& bytes) override
    {
        sent.push_back(bytes);
        const regsim::Bytes reply =
            sim_.Feed(reinterpret_cast<const uint8_t*>(bytes.constData()), bytes.size());
        line_.append(reinterpret_cast<const char*>(reply.data()), qsizetype(reply.size()));
    }
    // The read's result comes back at once, as a blocking read that has its bytes before the
    // time-out would.
    void UsbReadAsync(int count, UsbReplyNeed, UsbReadDone done) override
    {
        ++reads;
        const QByteArray piece = line_.left(count);
        line_.remove(0, piece.size());
        // Nothing more is coming: the regulator's receiver times out a half message.
        sim_.LineIdle();
        done({piece, false});
    }
    void UsbSetDataCharacteristics(int, int stopBits, int) override { this->stopBits = stopBits; }
    void UsbClose() override { ++closes; }
    void UsbDiscardInput() override { line_.clear(); }

    bool present = true;
    int stopBits = -1;
    int reads = 0;
    int closes = 0;
    std::vector<QByteArray> sent;

private:
    regsim::Regulator& sim_;
    QByteArray line_;
};
