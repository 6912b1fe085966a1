#pragma once
// The regulator's side of the line, in process: bytes from the PC in (any chunking), reply bytes
// out. Written from the protocol's description alone, so that a misreading in the program cannot
// hide on both sides of the line. Not thread-safe: one owner feeds it.

#include "tools/regsim/regfile.h"

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>

namespace regsim {

// Bytes on the line.
constexpr uint8_t kWakeByte = 0x55;
constexpr int kWakeRun = 10; // consecutive wake bytes that wake the regulator
constexpr uint8_t kFrameStart = 0xFE;
constexpr uint8_t kCommandPrefix = 0xFC;
constexpr uint8_t kLogPrefix = 0xF9;
constexpr uint8_t kPresenceAck = 0xFA;
constexpr uint8_t kWriteAck = 0xFB;
constexpr uint8_t kWriteEnd = 0xFC;
constexpr uint8_t kLogEnd = 0x08;

// What the regulator recognised on the line.
enum class Message { WakeUp, Read, Presence, Default, LogStart, LogNext, LogRepeat, Write };

const char* MessageName(Message m); // "wake-up", "read", ... as used by --mute and --record

// Faults that a test or the command line switches on. Silence drops replies only: what arrives is
// still acted on and recorded, as a regulator whose transmitter is broken would.
struct Faults {
    bool silent = false;
    std::set<Message> mute; // kinds of message left unanswered
    Bytes garbage;          // sent before every reply
    Bytes garbageInside;    // put into every data frame after its length byte
    size_t chunkSize = 0;   // replies handed to the sink in pieces of this size; 0: whole
    int badCheckFrames = 0; // the next this many data frames get a wrong check byte
    bool badCheckAlways = false;
    bool writeEndInsteadOfAck = false; // FC instead of FB after a stored write
    bool ignoreWrites = false;         // acknowledge writes without storing them
    // A regulator that stalls: while set, replies are held back; the first reply after it is
    // cleared goes out behind every reply held meanwhile, all at once.
    bool stall = false;
    std::optional<int> hangUpAfter; // hang up once this many messages have been answered
};

// One write frame as it came from the PC.
struct ReceivedWrite {
    Bytes frame; // FE, length, payload, check as received
    Bytes payload;
    bool checkOk = false;
    bool stored = false;       // false for a wrong check byte or a payload too short for the limits
    bool acknowledged = false; // answered as stored (also when the ignore-writes fault forgot it)
};

// Notified for every recognised message, before its reply is made.
struct Event {
    Message message;
    const ReceivedWrite* write = nullptr; // for Message::Write
};

// A reply piece: garbage, or a chunk of a reply. Pieces of one reply arrive in order.
using Sink = std::function<void(const Bytes& piece)>;

class Regulator {
public:
    explicit Regulator(RegulatorData data);

    // Takes bytes from the PC; returns every reply byte they caused (garbage included), and hands
    // the same bytes to the sink in pieces if one is set.
    Bytes Feed(const uint8_t* data, size_t n);
    Bytes Feed(const Bytes& data) { return Feed(data.data(), data.size()); }

    // The line has been quiet: a partly received message will not be completed (a real regulator
    // times out its receiver, so one stray FE cannot swallow the next requests).
    void LineIdle();
    bool InputPending() const { return state_ != State::Idle || wakeRun_ > 0; }

    // Stop answering for good, as if unplugged.
    void HangUp() { hungUp_ = true; }
    bool HungUp() const { return hungUp_; }

    void SetSink(Sink sink) { sink_ = std::move(sink); }
    void SetObserver(std::function<void(const Event&)> observer)
    {
        observer_ = std::move(observer);
    }

    Faults& faults() { return faults_; }
    const RegulatorData& Data() const { return data_; }
    const ParameterBlock& Block() const { return data_.block; }

    // The replies as the regulator would send them now, correctly framed.
    Bytes IdentificationPayload() const;
    Bytes ReadPayload() const;

    const std::vector<ReceivedWrite>& Writes() const { return writes_; }
    int Count(Message m) const;
    int Messages() const { return messages_; } // recognised messages, all kinds
    int BadCheckWrites() const { return badCheckWrites_; }
    int UnknownBytes() const { return unknownBytes_; }

private:
    enum class State { Idle, Prefix, Code, FrameLength, FrameBody };

    void Take(uint8_t b, Bytes& out);
    void Handle(Message m, Bytes& out);
    void HandleWrite(Bytes& out);
    void Reply(Message m, const Bytes& body, bool framed, Bytes& out);
    void Send(const Bytes& body, bool framed, Bytes& out);
    void Emit(const Bytes& piece, Bytes& out);
    const Bytes& NextLogRecord(Message m);

    RegulatorData data_;
    Faults faults_;
    Sink sink_;
    std::function<void(const Event&)> observer_;

    State state_ = State::Idle;
    int wakeRun_ = 0;
    uint8_t prefix_ = 0;
    Bytes frame_;

    bool logStarted_ = false;
    size_t logCursor_ = 0; // the record sent last; "next" moves past it, "repeat" sends it again
    bool hungUp_ = false;
    struct HeldReply {
        Bytes body;
        bool framed;
    };
    std::vector<HeldReply> held_; // replies kept back while stalled

    std::vector<ReceivedWrite> writes_;
    std::map<Message, int> counts_;
    int messages_ = 0;
    int badCheckWrites_ = 0;
    int unknownBytes_ = 0;
};

// The check byte of a data frame: XOR of every byte before it.
uint8_t CheckByte(const uint8_t* data, size_t n);

} // namespace regsim
