#pragma once
// Reply handlers that write down what the parser handed them, with hooks for handlers that act
// (send the next request and parse its reply, reset the connection) the way the cycle's do.

#include "protocol/replyparser.h"
#include "tests/support/files.h"

#include <QByteArray>
#include <functional>
#include <string>
#include <vector>

inline QByteArray Hex(const char* text) { return QByteArray::fromHex(text); }

class RecordingHandlers : public IReplyHandlers {
public:
    explicit RecordingHandlers(ProtocolState& state) : state_(state) {}

    std::vector<std::string> events;
    std::vector<QString> captions;
    std::function<void()> onLog, onRead, onIdentification, onPresence, onWriteAck;

    void PresenceAcknowledged() override
    {
        events.push_back("presence");
        Run(onPresence);
    }
    void WriteAcknowledged() override
    {
        events.push_back("writeack");
        Run(onWriteAck);
    }
    void WriteEndByte() override { events.push_back("writeend"); }
    void LogRecord() override
    {
        events.push_back("log " + Payload());
        Run(onLog);
    }
    void LogFrameError() override { events.push_back("logerror"); }
    void ReadReply() override
    {
        events.push_back("read " + Payload());
        Run(onRead);
    }
    void IdentificationReply() override
    {
        events.push_back("ident " + Payload());
        Run(onIdentification);
    }
    void ReplyBufferChanged(const ReplyBuffer& buffer) override
    {
        captions.push_back(ReplyBufferCaption(buffer));
    }

private:
    std::string Payload() const { return state_.replyPayload.toHex().toUpper().toStdString(); }
    static void Run(const std::function<void()>& hook)
    {
        if (hook)
            hook();
    }

    ProtocolState& state_;
};
