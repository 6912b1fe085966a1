#pragma once
// The byte trace of -vv: every byte on the line, in hex, with its direction and the time since the
// run began, on stderr. The links are wrapped, so the protocol code does not know of it.

#include "link/linktap.h"

#include <QByteArray>
#include <QString>
#include <functional>

using TTraceFn = std::function<void(const QString&)>;
using TNowMs = std::function<int64_t()>; // monotonic milliseconds

// "  1.234 > FC 01 02": seconds since start, ">" to the regulator, "<" from it.
QString TraceLine(int64_t sinceStartMs, bool toRegulator, const QByteArray& bytes);

class TTracedSerialPort final : public TTappedSerialPort {
public:
    TTracedSerialPort(ISerialPort& inner, TNowMs now, TTraceFn trace);
};

class TTracedUsbLink final : public TTappedUsbLink {
public:
    TTracedUsbLink(IUsbLink& inner, TNowMs now, TTraceFn trace);
};
