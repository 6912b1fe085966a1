#pragma once
// The reply parser: received bytes in, messages out, whatever the chunking of the transport.
// Its state lives in ProtocolState, which the connection cycle owns; a run may be re-entered from a
// frame handler (over USB a handler sends the next request and parses its reply before returning).

#include <QByteArray>
#include <QString>

// Received bytes not yet consumed. Consuming from the front is cheap (an offset moves), so a long
// run of noise costs linear time.
class ReplyBuffer {
public:
    void Append(const QByteArray& bytes);
    void Replace(const QByteArray& bytes); // USB: each receive replaces the buffer
    void Clear();
    qsizetype Size() const { return data_.size() - head_; }
    bool Empty() const { return Size() == 0; }
    unsigned char At(qsizetype i) const { return static_cast<unsigned char>(data_[head_ + i]); }
    QByteArray Mid(qsizetype pos, qsizetype len) const { return data_.mid(head_ + pos, len); }
    QByteArray Bytes() const { return data_.mid(head_); }
    void RemoveFront(qsizetype n);

private:
    QByteArray data_;
    qsizetype head_ = 0;
};

// The protocol state that the connection cycle keeps between parser runs and transactions.
struct ProtocolState {
    ReplyBuffer replyBuffer;
    bool frameOpen = false;
    QByteArray replyPayload; // payload of the last verified frame; its handler clears it
    bool identificationPending = false;
    bool readPending = false;
    bool writePending = false;
    bool presencePending = false;
    bool logPending = false;
    bool busy = false;
    int presenceMissCount = 0;
    int watchdogCount = 0;
};

// What the parser hands on. Each is called only when its pending flag is set at that moment.
class IReplyHandlers {
public:
    virtual ~IReplyHandlers() = default;
    // FA while presence pending; the parser has already cleared presence pending, the miss count
    // and the busy flag. The handler shows the connected state.
    virtual void PresenceAcknowledged() = 0;
    virtual void WriteAcknowledged() = 0;   // FB while write pending
    virtual void WriteEndByte() = 0;        // FC while write pending
    virtual void LogRecord() = 0;           // verified frame while log pending
    virtual void LogFrameError() = 0;       // frame with a wrong check byte while log pending
    virtual void ReadReply() = 0;           // verified frame while read pending
    virtual void IdentificationReply() = 0; // verified frame while identification pending
    // Called at the start of every run with the buffer as it stands (Label3's caption).
    virtual void ReplyBufferChanged(const ReplyBuffer& buffer) = 0;
};

// Label3's caption: the decimal value of every byte, each followed by one blank.
QString ReplyBufferCaption(const ReplyBuffer& buffer);

void ParseReplyBuffer(ProtocolState& state, IReplyHandlers& handlers);
