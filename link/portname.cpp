#include "link/portname.h"

#include <QRegularExpression>

namespace {
constexpr int kHighestComPort = 256;
const QString kDevicePrefix = QStringLiteral("\\\\.\\");
} // namespace

QString DevicePathForPortName(const QString& portName)
{
    QString name = portName;
    if (name.startsWith(kDevicePrefix))
        name = name.mid(kDevicePrefix.size());
    // A NUL would cut the path short at the system call and open something else.
    if (name.isEmpty() || name.contains(QChar(0)))
        return {};
    if (name.startsWith(u'/'))
        return name;
    static const QRegularExpression comPort(QStringLiteral("^COM([1-9][0-9]{0,2})$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = comPort.match(name);
    if (m.hasMatch()) {
        const int n = m.captured(1).toInt();
        if (n <= kHighestComPort)
            return QStringLiteral("/dev/ttyS%1").arg(n - 1);
    }
    return {};
}
