#include "shell/comport.h"

#include "link/commconnect.h"

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

private:
    TComm& comm_;
};

} // namespace

std::unique_ptr<ISerialPort> MakeCommPort(TComm& comm) { return std::make_unique<TCommPort>(comm); }
