#include "protocol/replyend.h"

#include "protocol/frames.h"

int ReplyBytesNeeded(const QByteArray& received, const ReplyExpectation& expect)
{
    const qsizetype n = received.size();
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned char b = static_cast<unsigned char>(received[i]);
        if (b == kFrameStart) {
            // Inside a frame every byte is payload, so the first start byte decides.
            if (n - i < 2)
                return int(i + 2 - n);
            const qsizetype length = static_cast<unsigned char>(received[i + 1]) + kFrameOverhead;
            return n - i >= length ? 0 : int(i + length - n);
        }
        if ((b == kPresenceAck && expect.presenceAck) ||
            ((b == kWriteAck || b == kWriteEnd) && expect.writeAck))
            return 0;
    }
    return 1;
}
