#include "fake_handlers.h"
#include "protocol/frames.h"
#include "protocol/replyparser.h"

#include <gtest/gtest.h>
#include <random>

namespace {

using Events = std::vector<std::string>;

// Pending flags by letter: i identification, r read, w write, p presence, l log.
void SetPending(ProtocolState& s, const std::string& letters)
{
    s.identificationPending = letters.find('i') != std::string::npos;
    s.readPending = letters.find('r') != std::string::npos;
    s.writePending = letters.find('w') != std::string::npos;
    s.presencePending = letters.find('p') != std::string::npos;
    s.logPending = letters.find('l') != std::string::npos;
}

struct ParseCase {
    const char* what;
    const char* bytes;
    const char* pending;
    Events events;
    const char* remaining;
    bool frameOpen;
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.what; }

class OneReception : public ::testing::TestWithParam<ParseCase> {};

TEST_P(OneReception, DispatchesAndConsumes)
{
    const ParseCase& c = GetParam();
    ProtocolState s;
    SetPending(s, c.pending);
    RecordingHandlers h(s);
    s.replyBuffer.Append(Hex(c.bytes));
    ParseReplyBuffer(s, h);
    EXPECT_EQ(h.events, c.events);
    EXPECT_EQ(s.replyBuffer.Bytes().toHex().toUpper(), QByteArray(c.remaining));
    EXPECT_EQ(s.frameOpen, c.frameOpen);
    EXPECT_EQ(h.captions.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Parser, OneReception,
    ::testing::Values(
        ParseCase{"empty payload", "FE00FE", "r", {"read "}, "", false},
        ParseCase{"three bytes", "FE03010203FD", "r", {"read 010203"}, "", false},
        ParseCase{"wrong check byte", "FE03010203FC", "ril", {"logerror"}, "", false},
        ParseCase{"wrong check, nothing pending", "FE03010203FF", "r", {}, "", false},
        ParseCase{"wrong then good", "FE01AA00FE00FE", "r", {"read "}, "", false},
        ParseCase{
            "noise around frames", "0102FE00FE33FE0105FA", "r", {"read ", "read 05"}, "", false},
        ParseCase{"message bytes inside a payload",
                  "FE04FAFBFCFEF9",
                  "rwp",
                  {"read FAFBFCFE"},
                  "",
                  false},
        ParseCase{"dispatch order, each flag tested",
                  "FE0111EE",
                  "ilr",
                  {"log 11", "read 11", "ident 11"},
                  "",
                  false},
        ParseCase{"frame while only write and presence pending", "FE0111EE", "wp", {}, "", false},
        ParseCase{"noise before presence ack", "00FA", "p", {"presence"}, "", false},
        ParseCase{"presence ack taken once", "FAFA", "p", {"presence"}, "", false},
        ParseCase{"presence ack unasked", "FA", "rwil", {}, "", false},
        ParseCase{"write acknowledgement", "FB", "w", {"writeack"}, "", false},
        ParseCase{"write end byte", "FC", "w", {"writeend"}, "", false},
        ParseCase{"write bytes unasked", "FBFC", "pril", {}, "", false},
        ParseCase{
            "all single messages", "FAFBFC", "wp", {"presence", "writeack", "writeend"}, "", false},
        ParseCase{"start byte alone", "FE", "r", {}, "FE", true},
        ParseCase{
            "incomplete frame blocks what follows", "FE050102FA", "rp", {}, "FE050102FA", true},
        ParseCase{"noise then incomplete frame", "1234FE02AA", "r", {}, "FE02AA", true},
        ParseCase{"longest frame", "FEFF", "r", {}, "FEFF", true}),
    [](const ::testing::TestParamInfo<ParseCase>& info) {
        std::string name = info.param.what;
        for (char& ch : name)
            if (!isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return name;
    });

TEST(Parser, PresenceAckClearsPresenceStateButNothingElse)
{
    ProtocolState s;
    s.presencePending = true;
    s.presenceMissCount = 2;
    s.busy = true;
    s.readPending = true;
    RecordingHandlers h(s);
    bool stateClearedBeforeHandler = false;
    h.onPresence = [&] {
        stateClearedBeforeHandler = !s.presencePending && s.presenceMissCount == 0 && !s.busy;
    };
    s.replyBuffer.Append(Hex("00FA"));
    ParseReplyBuffer(s, h);
    EXPECT_TRUE(stateClearedBeforeHandler);
    EXPECT_TRUE(s.readPending);
}

TEST(Parser, UnaskedPresenceAckChangesNothing)
{
    ProtocolState s;
    s.presenceMissCount = 1;
    s.busy = true;
    RecordingHandlers h(s);
    s.replyBuffer.Append(Hex("FA"));
    ParseReplyBuffer(s, h);
    EXPECT_TRUE(h.events.empty());
    EXPECT_EQ(s.presenceMissCount, 1);
    EXPECT_TRUE(s.busy);
}

TEST(Parser, CaptionListsEveryByteInDecimalOncePerRun)
{
    ProtocolState s;
    RecordingHandlers h(s);
    s.replyBuffer.Append(Hex("00FA0A64FF"));
    ParseReplyBuffer(s, h);
    ASSERT_EQ(h.captions.size(), 1u);
    EXPECT_EQ(h.captions[0], QStringLiteral("0 250 10 100 255 "));
    ParseReplyBuffer(s, h);
    ASSERT_EQ(h.captions.size(), 2u);
    EXPECT_EQ(h.captions[1], QString());
}

// A stream made of pieces; a piece's event is due when its last byte has arrived.
struct Piece {
    const char* bytes;
    const char* event; // nullptr: no event
};

struct Stream {
    QByteArray bytes;
    std::vector<std::pair<qsizetype, std::string>> due; // end offset, event

    explicit Stream(std::initializer_list<Piece> pieces)
    {
        for (const Piece& p : pieces) {
            bytes += Hex(p.bytes);
            if (p.event)
                due.emplace_back(bytes.size(), p.event);
        }
    }
    Events DueBy(qsizetype received) const
    {
        Events e;
        for (const auto& [end, event] : due)
            if (end <= received)
                e.push_back(event);
        return e;
    }
};

const Stream& MixedStream()
{
    static const Stream stream{
        {"0102", nullptr},       {"FE03010203FD", "read 010203"},
        {"FA", "presence"},      {"FE00FE", "read "},
        {"FE02FEFA06", nullptr}, // wrong check byte, nothing pending for it
        {"55", nullptr},         {"FE04FAFBFCFEF9", "read FAFBFCFE"},
        {"FA", nullptr}, // presence no longer pending
        {"FE0111EE", "read 11"},
    };
    return stream;
}

TEST(ParserSplit, EveryFrameIsDispatchedOnceWhenItsLastByteArrives)
{
    const Stream& stream = MixedStream();
    for (qsizetype cut = 0; cut <= stream.bytes.size(); ++cut) {
        ProtocolState s;
        SetPending(s, "rp");
        RecordingHandlers h(s);
        s.replyBuffer.Append(stream.bytes.left(cut));
        ParseReplyBuffer(s, h);
        EXPECT_EQ(h.events, stream.DueBy(cut)) << "cut at " << cut;
        s.replyBuffer.Append(stream.bytes.mid(cut));
        ParseReplyBuffer(s, h);
        EXPECT_EQ(h.events, stream.DueBy(stream.bytes.size())) << "cut at " << cut;
        EXPECT_TRUE(s.replyBuffer.Empty());
        EXPECT_FALSE(s.frameOpen);
    }
}

TEST(ParserSplit, ByteByByte)
{
    const Stream& stream = MixedStream();
    ProtocolState s;
    SetPending(s, "rp");
    RecordingHandlers h(s);
    for (qsizetype i = 0; i < stream.bytes.size(); ++i) {
        s.replyBuffer.Append(stream.bytes.mid(i, 1));
        ParseReplyBuffer(s, h);
        ASSERT_EQ(h.events, stream.DueBy(i + 1)) << "after byte " << i;
    }
}

QByteArray Frame(const char* payloadHex) { return BuildDataFrame(Hex(payloadHex)); }

// Over USB a log record's handler sends the next request and parses its reply before it returns;
// each reply replaces the buffer.
TEST(ParserReentry, HandlerReplacesBufferAndParsesAgain)
{
    ProtocolState s;
    s.logPending = true;
    RecordingHandlers h(s);
    std::vector<QByteArray> replies = {Frame("02") + Hex("FE0501"), Frame("0303"), Frame("04")};
    size_t next = 0;
    h.onLog = [&] {
        s.replyPayload.clear();
        if (next == replies.size()) {
            s.logPending = false;
            return;
        }
        s.replyBuffer.Replace(replies[next++]);
        ParseReplyBuffer(s, h);
    };
    // What follows the first record in the outer buffer is longer than any nested reply, so a run
    // that kept its old length would read past the new buffer or dispatch stale bytes.
    s.replyBuffer.Append(Frame("01") + QByteArray(300, '\x11') + Frame("99"));
    ParseReplyBuffer(s, h);
    // The FE 05 01 behind the second record goes when its handler replaces the buffer.
    EXPECT_EQ(h.events, (Events{"log 01", "log 02", "log 0303", "log 04"}));
    EXPECT_TRUE(s.replyBuffer.Empty());
    EXPECT_FALSE(s.frameOpen);
    EXPECT_EQ(h.captions.size(), 4u);
}

// A connection reset inside a handler empties the buffer; the outer run must stop there.
TEST(ParserReentry, HandlerClearsBuffer)
{
    ProtocolState s;
    s.readPending = true;
    RecordingHandlers h(s);
    h.onRead = [&] {
        s.replyBuffer.Clear();
        s.frameOpen = false;
    };
    s.replyBuffer.Append(Frame("01") + Frame("02") + Hex("FE02"));
    ParseReplyBuffer(s, h);
    EXPECT_EQ(h.events, (Events{"read 01"}));
    EXPECT_TRUE(s.replyBuffer.Empty());
    EXPECT_FALSE(s.frameOpen);
}

TEST(ParserReentry, NestedRunOnTheSameBufferDispatchesEachFrameOnce)
{
    ProtocolState s;
    s.readPending = true;
    s.presencePending = true;
    RecordingHandlers h(s);
    int depth = 0;
    h.onRead = [&] {
        if (depth++ == 0)
            ParseReplyBuffer(s, h);
    };
    h.onPresence = [&] { ParseReplyBuffer(s, h); };
    s.replyBuffer.Append(Frame("01") + Hex("FA") + Frame("02") + Frame("03") + Hex("FE01"));
    ParseReplyBuffer(s, h);
    EXPECT_EQ(h.events, (Events{"read 01", "presence", "read 02", "read 03"}));
    EXPECT_EQ(s.replyBuffer.Bytes(), Hex("FE01"));
    EXPECT_TRUE(s.frameOpen);
}

TEST(ParserReentry, BytesAppendedByAHandlerAreParsedByTheSameRun)
{
    ProtocolState s;
    s.writePending = true;
    s.readPending = true;
    RecordingHandlers h(s);
    h.onWriteAck = [&] {
        s.writePending = false;
        s.replyBuffer.Append(Frame("AB"));
    };
    s.replyBuffer.Append(Hex("FBFB"));
    ParseReplyBuffer(s, h);
    EXPECT_EQ(h.events, (Events{"writeack", "read AB"}));
}

TEST(ParserReentry, HandlerEndingItsTransactionHidesTheFrameFromLaterTests)
{
    ProtocolState s;
    s.logPending = true;
    s.identificationPending = true;
    RecordingHandlers h(s);
    h.onLog = [&] {
        s.logPending = false;
        s.identificationPending = false;
        s.readPending = true; // a read starts: the same frame goes to it, by the flag order
    };
    s.replyBuffer.Append(Frame("42"));
    ParseReplyBuffer(s, h);
    EXPECT_EQ(h.events, (Events{"log 42", "read 42"}));
}

// A buffer that a USB receive replaced while a frame was open starts with new bytes: the stale
// flag must not turn them into a frame.
TEST(Parser, StaleFrameOpenFlagDoesNotSwallowAMessage)
{
    ProtocolState s;
    s.presencePending = true;
    RecordingHandlers h(s);
    s.replyBuffer.Append(Hex("FE05"));
    ParseReplyBuffer(s, h);
    ASSERT_TRUE(s.frameOpen);
    s.replyBuffer.Replace(Hex("FA"));
    ParseReplyBuffer(s, h);
    EXPECT_EQ(h.events, (Events{"presence"}));
    EXPECT_FALSE(s.frameOpen);
}

// A megabyte of noise with good and bad frames in between, in one piece and in 7-byte pieces.
TEST(ParserLarge, MegabyteOfNoiseAndFrames)
{
    std::mt19937 rng(1234);
    QByteArray stream;
    Events expected;
    while (stream.size() < (1 << 20)) {
        const int noise = static_cast<int>(rng() % 2000);
        for (int i = 0; i < noise; ++i) {
            char b = static_cast<char>(rng() % 256);
            if (static_cast<unsigned char>(b) == kFrameStart)
                b = 0;
            stream.append(b);
        }
        QByteArray payload;
        const int len = static_cast<int>(rng() % 256);
        for (int i = 0; i < len; ++i)
            payload.append(static_cast<char>(rng() % 256));
        QByteArray frame = BuildDataFrame(payload);
        if (rng() % 4 == 0) {
            frame[frame.size() - 1] = static_cast<char>(frame[frame.size() - 1] ^ 0x40);
        } else {
            expected.push_back("read " + payload.toHex().toUpper().toStdString());
        }
        stream += frame;
    }
    for (qsizetype chunk : {stream.size(), qsizetype(7)}) {
        ProtocolState s;
        s.readPending = true;
        RecordingHandlers h(s);
        for (qsizetype at = 0; at < stream.size(); at += chunk) {
            s.replyBuffer.Append(stream.mid(at, chunk));
            ParseReplyBuffer(s, h);
        }
        EXPECT_EQ(h.events, expected) << "chunk " << chunk;
        EXPECT_TRUE(s.replyBuffer.Empty());
    }
}

// The buffer against a plain byte string under a random mix of operations, across compactions.
TEST(ReplyBuffer, BehavesLikeAPlainByteString)
{
    std::mt19937 rng(99);
    ReplyBuffer buf;
    QByteArray model;
    for (int step = 0; step < 20000; ++step) {
        const unsigned op = rng() % 100;
        if (op < 45) {
            QByteArray bytes(static_cast<int>(rng() % 20), '\0');
            for (char& b : bytes)
                b = static_cast<char>(rng());
            buf.Append(bytes);
            model.append(bytes);
        } else if (op < 95) {
            const qsizetype n = static_cast<qsizetype>(rng() % (model.size() + 3));
            buf.RemoveFront(n);
            model.remove(0, std::min(n, model.size()));
        } else if (op < 99) {
            const QByteArray bytes(static_cast<int>(rng() % 10), 'r');
            buf.Replace(bytes);
            model = bytes;
        } else {
            buf.Clear();
            model.clear();
        }
        ASSERT_EQ(buf.Size(), model.size()) << "step " << step;
        ASSERT_EQ(buf.Bytes(), model) << "step " << step;
        if (!model.isEmpty()) {
            const qsizetype i = static_cast<qsizetype>(rng() % model.size());
            ASSERT_EQ(buf.At(i), static_cast<unsigned char>(model[i]));
            ASSERT_EQ(buf.Mid(i, 5), model.mid(i, 5));
        }
    }
}

} // namespace
