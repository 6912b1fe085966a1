#include "link/connect.h"

void TConnection::SetActive(bool value)
{
    if (loading_) {
        // Only a true value is remembered: the form may list Active = false as well.
        if (value)
            streamedActive_ = true;
        return;
    }
    if (value == active_)
        return;
    if (value) {
        DoBeforeOpen();
        try {
            DoOpen();
        } catch (...) {
            // Release whatever the open sequence had already taken (thread, handle).
            DoClose();
            throw;
        }
        active_ = true;
        DoAfterOpen();
    } else {
        if (!destroying_)
            DoBeforeClose();
        DoClose();
        active_ = false;
        if (!destroying_)
            DoAfterClose();
    }
}

void TConnection::CheckInactive() const
{
    if (active_)
        throw EConnectError(QStringLiteral("Connection is active"));
}

void TConnection::Loaded()
{
    loading_ = false;
    if (streamedActive_) {
        streamedActive_ = false;
        SetActive(true);
    }
}

void TConnection::DoBeforeOpen()
{
    if (BeforeOpen)
        BeforeOpen(this);
}

void TConnection::DoBeforeClose()
{
    if (BeforeClose)
        BeforeClose(this);
}

void TConnection::DoAfterOpen()
{
    if (AfterOpen)
        AfterOpen(this);
}

void TConnection::DoAfterClose()
{
    if (AfterClose)
        AfterClose(this);
}

void TConnection::DestroyConnection() noexcept
{
    destroying_ = true;
    loading_ = false;
    try {
        SetActive(false);
    } catch (...) {
        // A destructor has nobody to report to; the handle is released by DoClose regardless.
    }
    active_ = false;
}

void TLogger::SetAutoOpen(bool value)
{
    CheckInactive();
    autoOpen_ = value;
}

void TLogger::Log(const QString& logName, uint8_t channel, const QByteArray& text)
{
    if (!Active() && !autoOpen_)
        return;
    bool accept = true;
    if (AcceptChannel)
        AcceptChannel(this, logName, channel, accept);
    if (!accept)
        return;
    std::lock_guard<std::recursive_mutex> lock(lock_);
    const bool wasActive = Active();
    struct RestoreActive {
        TLogger* logger;
        bool active;
        ~RestoreActive()
        {
            try {
                logger->SetActive(active);
            } catch (...) {
                // Closing a sink that failed to write must not hide the first error.
            }
        }
    } restore{this, wasActive};
    SetActive(true);
    QString line;
    FormatLine(logName, channel, text, line);
    WriteLine(line);
}

void TLogConnection::Log(uint8_t channel, const QByteArray& text)
{
    QByteArray formatted = text;
    DoFormatLog(channel, formatted);
    if (logger_)
        logger_->Log(logName_, channel, formatted);
}

void TLogConnection::DoFormatLog(uint8_t channel, QByteArray& text)
{
    if (OnFormatLog)
        OnFormatLog(this, channel, text);
}
