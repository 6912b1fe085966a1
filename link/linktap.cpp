#include "link/linktap.h"

#include "link/commconnect.h"

TTappedSerialPort::TTappedSerialPort(ISerialPort& inner, TLinkObserver observer)
    : inner_(inner), observer_(std::move(observer))
{
}

void TTappedSerialPort::OpenComPort(const QString& portName)
{
    const auto told = [this](int error) {
        if (observer_.opened)
            observer_.opened(error);
    };
    try {
        inner_.OpenComPort(portName);
    } catch (const EComError& e) {
        told(e.Code());
        throw;
    } catch (const std::exception&) {
        told(-1);
        throw;
    }
    told(0);
}

bool TTappedSerialPort::ReopenIfBack()
{
    const bool back = inner_.ReopenIfBack();
    if (back && observer_.opened)
        observer_.opened(0);
    return back;
}

int TTappedSerialPort::SendString(const QByteArray& bytes)
{
    if (observer_.bytes)
        observer_.bytes(true, bytes);
    return inner_.SendString(bytes);
}

void TTappedSerialPort::SetReceiver(TSerialReceiver receiver)
{
    if (receiver.bytes && observer_.bytes)
        receiver.bytes = [this, bytes = std::move(receiver.bytes)](const QByteArray& received) {
            if (!received.isEmpty())
                observer_.bytes(false, received);
            bytes(received);
        };
    inner_.SetReceiver(std::move(receiver));
}

TTappedUsbLink::TTappedUsbLink(IUsbLink& inner, TLinkObserver observer)
    : inner_(inner), observer_(std::move(observer))
{
}

bool TTappedUsbLink::UsbReadyCheck()
{
    const bool ready = inner_.UsbReadyCheck();
    if (observer_.opened)
        observer_.opened(ready ? 0 : -1);
    return ready;
}

void TTappedUsbLink::UsbSend(const QByteArray& bytes)
{
    if (observer_.bytes)
        observer_.bytes(true, bytes);
    inner_.UsbSend(bytes);
}

void TTappedUsbLink::UsbReadAsync(int count, UsbReplyNeed need, UsbReadDone done)
{
    if (!observer_.bytes)
        return inner_.UsbReadAsync(count, std::move(need), std::move(done));
    inner_.UsbReadAsync(count, std::move(need),
                        [this, done = std::move(done)](const UsbReadResult& result) {
                            if (!result.bytes.isEmpty())
                                observer_.bytes(false, result.bytes);
                            done(result);
                        });
}
