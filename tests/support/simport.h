#pragma once
// The regulator simulator behind the COM port, in process, on virtual time: what the program sends
// reaches the simulator at once, and its reply comes back in small pieces at the pace of a 600 baud
// line (10 bits a byte), to whoever took the port's receptions (the connection cycle).

#include "common/clock.h"
#include "protocol/transport.h"
#include "tools/regsim/regulator.h"

#include <QByteArray>
#include <algorithm>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

class TSimPort final : public ISerialPort {
public:
    static constexpr double kMsPerByte = 1000.0 * 10 / 600;
    static constexpr int kPieceSize = 5;

    TSimPort(IClock& clock, regsim::Regulator& sim) : clock_(clock), sim_(sim) {}

    // Where received bytes go: the cycle's receive path, as the cycle sets it.
    std::function<void(const QByteArray&)> deliver;
    // Extra delay before the reply to the next request, in ms (a slow regulator).
    int extraDelay = 0;
    // Replies come in pieces of this many bytes, each gapMs after the line time of the one before.
    size_t pieceSize = kPieceSize;
    int gapMs = 0;
    // The clock's time, in ms. Given, a reply waits for the ones still on the line, as on one
    // wire; left empty, every reply has the line to itself.
    std::function<int64_t()> now;
    bool opened = false;
    QString portName;
    std::vector<QByteArray> sent;
    // The cable: pulled out, every send fails as on a hung-up line until the port is reopened;
    // present, the device is there to be reopened.
    bool lineGone = false;
    bool present = true;
    int reopenChecks = 0;

    bool Active() const override { return opened; }
    void SetReceiver(TSerialReceiver receiver) override { deliver = std::move(receiver.bytes); }
    void OpenComPort(const QString& name) override
    {
        portName = name;
        opened = true;
    }
    bool ReopenIfBack() override
    {
        ++reopenChecks;
        if (!present)
            return false;
        lineGone = false;
        opened = true;
        return true;
    }
    int SendString(const QByteArray& bytes) override
    {
        if (lineGone)
            throw std::runtime_error("Error 5 Input/output error in function: WriteFile");
        sent.push_back(bytes);
        const regsim::Bytes reply =
            sim_.Feed(reinterpret_cast<const uint8_t*>(bytes.constData()), bytes.size());
        double at = bytes.size() * kMsPerByte + extraDelay;
        extraDelay = 0;
        const int64_t sentAt = now ? now() : 0;
        if (now)
            at = std::max(at, lineFreeAt_ - double(sentAt));
        for (size_t i = 0; i < reply.size(); i += pieceSize) {
            const size_t n = std::min<size_t>(pieceSize, reply.size() - i);
            at += n * kMsPerByte + (i ? gapMs : 0);
            QByteArray piece(reinterpret_cast<const char*>(reply.data() + i), static_cast<int>(n));
            pending_.push_back(clock_.After(static_cast<int>(at), [this, piece] {
                if (deliver)
                    deliver(piece);
            }));
        }
        if (now && !reply.empty())
            lineFreeAt_ = double(sentAt) + at;
        return bytes.size();
    }
    // Forget replies still on the line (a test that wants them gone).
    void DropPending() { pending_.clear(); }

private:
    IClock& clock_;
    regsim::Regulator& sim_;
    std::vector<IClock::Token> pending_;
    double lineFreeAt_ = 0;
};
