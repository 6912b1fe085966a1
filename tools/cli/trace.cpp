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

namespace {

// Each byte's line, timed from the moment the link was wrapped.
TLinkObserver Tracing(TNowMs now, TTraceFn trace)
{
    const int64_t start = now();
    return {[now = std::move(now), trace = std::move(trace), start](bool toRegulator,
                                                                    const QByteArray& bytes) {
                trace(TraceLine(now() - start, toRegulator, bytes));
            },
            {}};
}

} // namespace

TTracedSerialPort::TTracedSerialPort(ISerialPort& inner, TNowMs now, TTraceFn trace)
    : TTappedSerialPort(inner, Tracing(std::move(now), std::move(trace)))
{
}

TTracedUsbLink::TTracedUsbLink(IUsbLink& inner, TNowMs now, TTraceFn trace)
    : TTappedUsbLink(inner, Tracing(std::move(now), std::move(trace)))
{
}
