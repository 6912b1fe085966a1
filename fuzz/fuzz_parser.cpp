// The reply parser fed bytes in any chunking under any pending state, with handlers that, like the
// USB path, may parse again from inside a handler. Every handler must be called only while its
// pending flag is set, and every byte handed in is consumed or still in the buffer.

#include "fuzzsupport.h"
#include "protocol/replyparser.h"

namespace {

class CheckingHandlers final : public IReplyHandlers {
public:
    CheckingHandlers(ProtocolState& state, FuzzedDataProvider& in) : state_(state), in_(in) {}

    void PresenceAcknowledged() override
    {
        FUZZ_CHECK(!state_.presencePending && state_.presenceMissCount == 0 && !state_.busy);
        Next();
    }
    void WriteAcknowledged() override { Consume(state_.writePending); }
    void WriteEndByte() override { Consume(state_.writePending); }
    void LogRecord() override
    {
        FUZZ_CHECK(state_.logPending);
        FUZZ_CHECK(state_.replyPayload.size() <= 255);
        Next();
    }
    void LogFrameError() override { Consume(state_.logPending); }
    void ReadReply() override
    {
        FUZZ_CHECK(state_.readPending);
        state_.replyPayload.clear();
        Next();
    }
    void IdentificationReply() override
    {
        FUZZ_CHECK(state_.identificationPending);
        state_.replyPayload.clear();
        Next();
    }
    void ReplyBufferChanged(const ReplyBuffer& buffer) override
    {
        FUZZ_CHECK(buffer.Size() == state_.replyBuffer.Size());
    }

private:
    void Consume(bool& pending)
    {
        FUZZ_CHECK(pending);
        Next();
    }
    // What a handler does next: change what is pending, and sometimes receive and parse again at
    // once, as the USB link does inside a handler.
    void Next()
    {
        if (in_.remaining_bytes() == 0)
            return;
        const uint8_t flags = in_.ConsumeIntegral<uint8_t>();
        state_.identificationPending = flags & 1;
        state_.readPending = flags & 2;
        state_.writePending = flags & 4;
        state_.presencePending = flags & 8;
        state_.logPending = flags & 16;
        if ((flags & 0x60) == 0x60 && depth_ < 8) {
            ++depth_;
            state_.replyBuffer.Replace(Bytes(in_.ConsumeRandomLengthString(64)));
            ParseReplyBuffer(state_, *this);
            --depth_;
        }
    }

    ProtocolState& state_;
    FuzzedDataProvider& in_;
    int depth_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    ProtocolState state;
    CheckingHandlers handlers(state, in);
    const uint8_t flags = in.ConsumeIntegral<uint8_t>();
    state.identificationPending = flags & 1;
    state.readPending = flags & 2;
    state.writePending = flags & 4;
    state.presencePending = flags & 8;
    state.logPending = flags & 16;
    state.presenceMissCount = (flags >> 5) & 3;
    state.busy = flags & 0x80;
    while (in.remaining_bytes() > 0) {
        const QByteArray chunk = Bytes(in.ConsumeRandomLengthString(48));
        const qsizetype before = state.replyBuffer.Size();
        state.replyBuffer.Append(chunk);
        ParseReplyBuffer(state, handlers);
        FUZZ_CHECK(state.replyBuffer.Size() <= before + chunk.size() + 64 * 8);
    }
    return 0;
}
