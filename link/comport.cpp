#include "link/comport.h"

#include "link/commconnect.h"
#include "link/portname.h"

#include <QFile>

#include <poll.h>
#include <sys/stat.h>

namespace {

class TCommPort final : public ISerialPort {
public:
    explicit TCommPort(TComm& comm) : comm_(comm) {}
    bool Active() const override { return comm_.Active(); }
    void OpenComPort(const QString& portName) override
    {
        comm_.Close();
        comm_.SetDeviceName(QStringLiteral("\\\\.\\") + portName);
        comm_.Open();
    }
    int SendString(const QByteArray& bytes) override { return comm_.SendString(bytes); }
    void SetReceiver(TSerialReceiver receiver) override
    {
        if (!receiver.bytes) {
            comm_.OnRxChar = nullptr;
            return;
        }
        comm_.OnRxChar = [this, receiver = std::move(receiver)](TCommunicationConnection*,
                                                                int count) {
            QByteArray bytes;
            try {
                comm_.ReadString(count, bytes);
            } catch (const std::exception& e) {
                if (receiver.failed)
                    receiver.failed(QString::fromStdString(e.what()));
                return;
            }
            receiver.bytes(bytes);
        };
    }
    bool ReopenIfBack() override
    {
        // While the device is away its node is gone (a USB-serial adapter, the far end of a
        // pseudo-terminal): one stat a check, the port left as it is.
        const QByteArray path = QFile::encodeName(DevicePathForPortName(comm_.DeviceName()));
        struct stat st {};
        if (path.isEmpty() || ::stat(path.constData(), &st) != 0 || !S_ISCHR(st.st_mode))
            return false;
        try {
            comm_.Close();
            comm_.Open();
        } catch (const std::exception&) {
            return false; // there but not ready; the next check tries again
        }
        // A node that is there over a line that is still down is not back yet.
        pollfd p{comm_.Handle(), POLLOUT, 0};
        if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
            comm_.Close();
            return false;
        }
        return true;
    }

private:
    TComm& comm_;
};

} // namespace

std::unique_ptr<ISerialPort> MakeCommPort(TComm& comm) { return std::make_unique<TCommPort>(comm); }
