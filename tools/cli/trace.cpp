#include "tools/cli/trace.h"

namespace {
constexpr double kMillisPerSecond = 1000.0;
}

QString TraceLine(int64_t sinceStartMs, bool toRegulator, const QByteArray& bytes)
{
    return QStringLiteral("%1 %2 %3")
        .arg(double(sinceStartMs) / kMillisPerSecond, 8, 'f', 3)
        .arg(toRegulator ? QLatin1Char('>') : QLatin1Char('<'))
        .arg(QString::fromLatin1(bytes.toHex(' ').toUpper()));
}

TTracedSerialPort::TTracedSerialPort(ISerialPort& inner, TNowMs now, TTraceFn trace)
    : inner_(inner), now_(std::move(now)), start_(now_()), trace_(std::move(trace))
{
}

int TTracedSerialPort::SendString(const QByteArray& bytes)
{
    trace_(TraceLine(now_() - start_, true, bytes));
    return inner_.SendString(bytes);
}

void TTracedSerialPort::SetReceiver(TSerialReceiver receiver)
{
    if (receiver.bytes)
        receiver.bytes = [this, bytes = std::move(receiver.bytes)](const QByteArray& received) {
            if (!received.isEmpty())
                trace_(TraceLine(now_() - start_, false, received));
            bytes(received);
        };
    inner_.SetReceiver(std::move(receiver));
}

TTracedUsbLink::TTracedUsbLink(IUsbLink& inner, TNowMs now, TTraceFn trace)
    : inner_(inner), now_(std::move(now)), start_(now_()), trace_(std::move(trace))
{
}

void TTracedUsbLink::UsbSend(const QByteArray& bytes)
{
    trace_(TraceLine(now_() - start_, true, bytes));
    inner_.UsbSend(bytes);
}

void TTracedUsbLink::UsbReadAsync(int count, UsbReplyNeed need, UsbReadDone done)
{
    inner_.UsbReadAsync(count, std::move(need),
                        [this, done = std::move(done)](const UsbReadResult& result) {
                            if (!result.bytes.isEmpty())
                                trace_(TraceLine(now_() - start_, false, result.bytes));
                            done(result);
                        });
}
