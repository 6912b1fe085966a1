#include "protocol/frames.h"

#include "common/errors.h"

namespace {

QByteArray Bytes3(unsigned char a, unsigned char b, unsigned char c)
{
    const char raw[3] = {static_cast<char>(a), static_cast<char>(b), static_cast<char>(c)};
    return QByteArray(raw, 3);
}

constexpr unsigned char kCommandPrefix = 0xFC;
constexpr unsigned char kLogPrefix = 0xF9;
constexpr unsigned char kCommandMarker = 0x01;

} // namespace

QByteArray WakeUpPattern() { return QByteArray(kWakeUpLength, static_cast<char>(kWakeUpByte)); }
QByteArray ReadRequest() { return Bytes3(kCommandPrefix, kCommandMarker, 0x02); }
QByteArray PresenceQuery() { return Bytes3(kCommandPrefix, kCommandMarker, 0x03); }
QByteArray DefaultRequest() { return Bytes3(kCommandPrefix, kCommandMarker, 0x05); }
QByteArray LogStartRequest() { return Bytes3(kLogPrefix, kCommandMarker, 0x01); }
QByteArray LogNextRequest() { return Bytes3(kLogPrefix, kCommandMarker, 0x02); }
QByteArray LogRepeatRequest() { return Bytes3(kLogPrefix, kCommandMarker, 0x03); }
unsigned char XorCheck(const QByteArray& bytes)
{
    unsigned char x = 0;
    for (const char b : bytes)
        x ^= static_cast<unsigned char>(b);
    return x;
}

QByteArray BuildDataFrame(const QByteArray& payload)
{
    if (payload.size() > kMaxPayload)
        throw EKorvalinexError(
            QStringLiteral("A payload of %1 bytes does not fit a data frame (at most %2).")
                .arg(payload.size())
                .arg(kMaxPayload));
    QByteArray frame;
    frame.reserve(payload.size() + kFrameOverhead);
    frame.append(static_cast<char>(kFrameStart));
    frame.append(static_cast<char>(payload.size()));
    frame.append(payload);
    frame.append(static_cast<char>(XorCheck(frame)));
    return frame;
}
