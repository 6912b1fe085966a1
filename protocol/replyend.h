#pragma once
// When a reply is complete: a USB receive ends as soon as the bytes it holds contain a message that
// the parser would act on, rather than waiting out the adapter's read time-out.

#include <QByteArray>

// Which single-byte messages the pending request awaits.
struct ReplyExpectation {
    bool presenceAck = false; // FA
    bool writeAck = false;    // FB or FC
};

// Bytes still needed before received holds a complete message (an awaited single byte, or a data
// frame whose length and check byte arrived, whatever its check); 0 when it does. Never more than
// what the frame under way still lacks, so a read of that many bytes takes nothing of what follows.
int ReplyBytesNeeded(const QByteArray& received, const ReplyExpectation& expect);
