#pragma once
// Module Connect: the generic connection base classes. A connection is a component with an
// open/closed state that changes only through Active; a log connection reports the blocks it
// sends and receives to a borrowed logger.

#include "common/errors.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

class TConnection;
class TLogger;
class TLogConnection;

// A failure of a connection as such ("Connection is active"); the serial errors derive from it.
class EConnectError : public EKorvalinexError {
public:
    using EKorvalinexError::EKorvalinexError;
};

using TConnectionNotifyEvent = std::function<void(TConnection* Sender)>;
using TAcceptChannelEvent =
    std::function<void(TLogger* Sender, const QString& aLogName, uint8_t aChannel, bool& aAccept)>;
using TFormatLogEvent =
    std::function<void(TLogConnection* Sender, uint8_t aChannel, QByteArray& aText)>;

class TConnection {
public:
    TConnection() = default;
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;
    // A subclass that implements DoClose must call DestroyConnection in its own destructor: by the
    // time this one runs, its overrides are gone.
    virtual ~TConnection() = default;

    bool Active() const { return active_; }
    void SetActive(bool value);
    void Open() { SetActive(true); }
    void Close() { SetActive(false); }
    // Raises EConnectError "Connection is active" when open; setters that must not change an
    // open connection call it first.
    void CheckInactive() const;

    // Loading stands in for reading the component from a form: while it lasts, Active = true is
    // only remembered, and Loaded opens the connection afterwards.
    void BeginLoading() { loading_ = true; }
    virtual void Loaded();
    bool IsLoading() const { return loading_; }
    bool IsDestroying() const { return destroying_; }

    TConnectionNotifyEvent BeforeOpen;
    TConnectionNotifyEvent BeforeClose;
    TConnectionNotifyEvent AfterOpen;
    TConnectionNotifyEvent AfterClose;

protected:
    virtual void DoOpen() = 0;
    virtual void DoClose() = 0;
    virtual void DoBeforeOpen();
    virtual void DoBeforeClose();
    virtual void DoAfterOpen();
    virtual void DoAfterClose();

    // Marks the component as being destroyed and closes it without the close events. Never
    // throws: it runs in destructors.
    void DestroyConnection() noexcept;

private:
    // Read from any thread: a handler on the event thread may close the port while another thread
    // asks whether it is open.
    std::atomic<bool> active_{false};
    bool streamedActive_ = false;
    bool loading_ = false;
    bool destroying_ = false;
};

// An abstract log sink. Nothing in the program derives a concrete logger; the hooks are kept for
// diagnostics.
class TLogger : public TConnection {
public:
    bool AutoOpen() const { return autoOpen_; }
    void SetAutoOpen(bool value);

    // Channel 1 = data sent, 2 = data received.
    void Log(const QString& logName, uint8_t channel, const QByteArray& text);

    TAcceptChannelEvent AcceptChannel;

protected:
    virtual void WriteLine(const QString& line) = 0;
    virtual void FormatLine(const QString& logName, uint8_t channel, const QByteArray& text,
                            QString& line) = 0;

private:
    // Recursive like the platform's critical sections, so that a sink may log from WriteLine.
    std::recursive_mutex lock_;
    bool autoOpen_ = false;
};

class TLogConnection : public TConnection {
public:
    // Borrowed: the logger must outlive the connection or be unset first.
    TLogger* Logger() const { return logger_; }
    void SetLogger(TLogger* logger) { logger_ = logger; }
    const QString& LogName() const { return logName_; }
    void SetLogName(const QString& name) { logName_ = name; }

    void Log(uint8_t channel, const QByteArray& text);

    TFormatLogEvent OnFormatLog;

protected:
    virtual void DoFormatLog(uint8_t channel, QByteArray& text);

private:
    TLogger* logger_ = nullptr;
    QString logName_;
};
