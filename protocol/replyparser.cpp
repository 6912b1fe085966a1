#include "protocol/replyparser.h"

#include "protocol/frames.h"

#include <algorithm>

void ReplyBuffer::Append(const QByteArray& bytes)
{
    if (head_ > 0 && head_ == data_.size()) {
        data_.clear();
        head_ = 0;
    }
    data_.append(bytes);
}

void ReplyBuffer::Replace(const QByteArray& bytes)
{
    data_ = bytes;
    head_ = 0;
}

void ReplyBuffer::Clear()
{
    data_.clear();
    head_ = 0;
}

void ReplyBuffer::RemoveFront(qsizetype n)
{
    head_ += std::clamp<qsizetype>(n, 0, Size());
    if (head_ == data_.size()) {
        data_.clear();
        head_ = 0;
    } else if (head_ > data_.size() / 2) {
        // Moving the rest costs no more than what was consumed since the last move, so consuming a
        // buffer byte by byte stays linear.
        data_.remove(0, head_);
        head_ = 0;
    }
}

QString ReplyBufferCaption(const ReplyBuffer& buffer)
{
    const qsizetype n = buffer.Size();
    QByteArray text;
    text.reserve(n * 4);
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned v = buffer.At(i);
        if (v >= 100)
            text.append(static_cast<char>('0' + v / 100));
        if (v >= 10)
            text.append(static_cast<char>('0' + v / 10 % 10));
        text.append(static_cast<char>('0' + v % 10));
        text.append(' ');
    }
    return QString::fromLatin1(text);
}

namespace {

// Length of the run of bytes at the front that are dropped without any effect: everything that
// neither opens a frame nor answers a pending request. They go in one step; nothing can change
// the pending flags between them, since no handler runs.
qsizetype InertPrefix(const ReplyBuffer& buf, const ProtocolState& state)
{
    const qsizetype n = buf.Size();
    qsizetype i = 0;
    for (; i < n; ++i) {
        const unsigned char b = buf.At(i);
        if (b == kFrameStart)
            break;
        if (b == kPresenceAck && state.presencePending)
            break;
        if ((b == kWriteAck || b == kWriteEnd) && state.writePending)
            break;
    }
    return i;
}

void DispatchFrame(ProtocolState& state, IReplyHandlers& handlers)
{
    // Each flag is looked at only after the previous handler has run: a handler may end its own
    // transaction and start another.
    if (state.logPending)
        handlers.LogRecord();
    if (state.readPending)
        handlers.ReadReply();
    if (state.identificationPending)
        handlers.IdentificationReply();
}

} // namespace

void ParseReplyBuffer(ProtocolState& state, IReplyHandlers& handlers)
{
    ReplyBuffer& buf = state.replyBuffer;
    handlers.ReplyBufferChanged(buf);

    // Every pass looks at the buffer as it is now: a handler may have parsed, replaced or cleared
    // it, so no length or position survives a handler call.
    for (;;) {
        if (buf.Empty()) {
            state.frameOpen = false;
            return;
        }
        const unsigned char first = buf.At(0);

        if (first == kFrameStart) {
            state.frameOpen = true;
            if (buf.Size() < 2)
                return;
            const qsizetype frameLength = buf.At(1) + kFrameOverhead;
            if (buf.Size() < frameLength)
                return; // the next reception completes it
            unsigned char check = 0;
            for (qsizetype i = 0; i < frameLength - 1; ++i)
                check ^= buf.At(i);
            const bool good = check == buf.At(frameLength - 1);
            if (good)
                state.replyPayload = buf.Mid(2, frameLength - kFrameOverhead);
            buf.RemoveFront(frameLength);
            state.frameOpen = false;
            if (good)
                DispatchFrame(state, handlers);
            else if (state.logPending)
                handlers.LogFrameError();
            continue;
        }

        // Outside a frame. A frame-open flag left over from a buffer that was since replaced
        // does not make a stray byte the start of a frame.
        state.frameOpen = false;
        const qsizetype inert = InertPrefix(buf, state);
        if (inert > 0) {
            buf.RemoveFront(inert);
            continue;
        }
        // The byte goes before its handler runs, so a parse inside the handler does not see it
        // again.
        buf.RemoveFront(1);
        if (first == kPresenceAck) {
            state.presencePending = false;
            state.presenceMissCount = 0;
            state.busy = false;
            handlers.PresenceAcknowledged();
        } else if (first == kWriteAck) {
            handlers.WriteAcknowledged();
        } else if (first == kWriteEnd) {
            handlers.WriteEndByte();
        }
    }
}
