#include "tools/regsim/regulator.h"

#include <algorithm>
#include <utility>

namespace regsim {

namespace {

constexpr uint8_t kRequestMarker = 0x01; // second byte of every fixed request
constexpr uint8_t kBlank = 0x20;
constexpr size_t kBlockHeader = 4; // throttle max and min, two bytes each

void PutText(Bytes& out, const std::string& text, size_t width)
{
    for (size_t i = 0; i < width; ++i)
        out.push_back(i < text.size() ? static_cast<uint8_t>(text[i]) : kBlank);
}

void Put16(Bytes& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v & 0xFF));
}

std::optional<Message> FixedRequest(uint8_t prefix, uint8_t code)
{
    if (prefix == kCommandPrefix) {
        switch (code) {
        case 0x02:
            return Message::Read;
        case 0x03:
            return Message::Presence;
        case 0x05:
            return Message::Default;
        }
    } else if (prefix == kLogPrefix) {
        switch (code) {
        case 0x01:
            return Message::LogStart;
        case 0x02:
            return Message::LogNext;
        case 0x03:
            return Message::LogRepeat;
        }
    }
    return std::nullopt;
}

} // namespace

const char* MessageName(Message m)
{
    switch (m) {
    case Message::WakeUp:
        return "wake-up";
    case Message::Read:
        return "read";
    case Message::Presence:
        return "presence";
    case Message::Default:
        return "default";
    case Message::LogStart:
        return "log-start";
    case Message::LogNext:
        return "log-next";
    case Message::LogRepeat:
        return "log-repeat";
    case Message::Write:
        return "write";
    }
    return "?";
}

uint8_t CheckByte(const uint8_t* data, size_t n)
{
    uint8_t x = 0;
    for (size_t i = 0; i < n; ++i)
        x ^= data[i];
    return x;
}

Regulator::Regulator(RegulatorData data) : data_(std::move(data)) {}

Bytes Regulator::IdentificationPayload() const
{
    // name, one unread byte, version, one unread byte, date, flags: 33 bytes
    Bytes p;
    PutText(p, data_.name, kNameWidth);
    p.push_back(kBlank);
    PutText(p, data_.version, kVersionWidth);
    p.push_back(kBlank);
    PutText(p, data_.date, kDateWidth);
    p.push_back(data_.flags);
    return p;
}

Bytes Regulator::ReadPayload() const
{
    Bytes p;
    Put16(p, data_.block.throttleMax);
    Put16(p, data_.block.throttleMin);
    if (VersionNumber(data_.version) >= 3)
        Put16(p, data_.speed);
    p.insert(p.end(), data_.display.begin(), data_.display.end());
    p.insert(p.end(), data_.block.options.begin(), data_.block.options.end());
    return p;
}

int Regulator::Count(Message m) const
{
    const auto it = counts_.find(m);
    return it == counts_.end() ? 0 : it->second;
}

Bytes Regulator::Feed(const uint8_t* data, size_t n)
{
    Bytes out;
    for (size_t i = 0; i < n; ++i) {
        if (faults_.hangUpAfter && messages_ >= *faults_.hangUpAfter)
            hungUp_ = true;
        if (hungUp_)
            break;
        Take(data[i], out);
    }
    if (faults_.hangUpAfter && messages_ >= *faults_.hangUpAfter)
        hungUp_ = true;
    return out;
}

void Regulator::LineIdle()
{
    switch (state_) {
    case State::Idle:
        break;
    case State::Prefix:
        unknownBytes_ += 1;
        break;
    case State::Code:
        unknownBytes_ += 2;
        break;
    case State::FrameLength:
    case State::FrameBody:
        unknownBytes_ += static_cast<int>(frame_.size());
        break;
    }
    unknownBytes_ += wakeRun_;
    wakeRun_ = 0;
    frame_.clear();
    state_ = State::Idle;
}

void Regulator::Take(uint8_t b, Bytes& out)
{
    switch (state_) {
    case State::Idle:
        if (b == kWakeByte) {
            if (++wakeRun_ == kWakeRun) {
                wakeRun_ = 0;
                Handle(Message::WakeUp, out);
            }
            return;
        }
        // A broken run of wake bytes is noise, like any other stray byte.
        unknownBytes_ += wakeRun_;
        wakeRun_ = 0;
        if (b == kCommandPrefix || b == kLogPrefix) {
            prefix_ = b;
            state_ = State::Prefix;
        } else if (b == kFrameStart) {
            frame_.assign(1, b);
            state_ = State::FrameLength;
        } else {
            ++unknownBytes_;
        }
        return;
    case State::Prefix:
        if (b == kRequestMarker) {
            state_ = State::Code;
            return;
        }
        // The prefix was noise; the byte after it may begin a real message.
        ++unknownBytes_;
        state_ = State::Idle;
        Take(b, out);
        return;
    case State::Code:
        state_ = State::Idle;
        if (const auto m = FixedRequest(prefix_, b)) {
            Handle(*m, out);
        } else {
            unknownBytes_ += 2;
            Take(b, out);
        }
        return;
    case State::FrameLength:
        frame_.push_back(b);
        state_ = State::FrameBody;
        return;
    case State::FrameBody:
        frame_.push_back(b);
        if (frame_.size() == static_cast<size_t>(frame_[1]) + 3) {
            state_ = State::Idle;
            HandleWrite(out);
        }
        return;
    }
}

void Regulator::Handle(Message m, Bytes& out)
{
    ++counts_[m];
    ++messages_;
    if (observer_)
        observer_(Event{m, nullptr});
    switch (m) {
    case Message::WakeUp:
        Reply(m, IdentificationPayload(), true, out);
        break;
    case Message::Read:
        Reply(m, ReadPayload(), true, out);
        break;
    case Message::Presence:
        Reply(m, Bytes{kPresenceAck}, false, out);
        break;
    case Message::Default:
        data_.block = data_.factory; // no reply: the PC reads after a pause
        break;
    case Message::LogStart:
    case Message::LogNext:
    case Message::LogRepeat:
        Reply(m, NextLogRecord(m), true, out);
        break;
    case Message::Write:
        break; // HandleWrite
    }
}

void Regulator::HandleWrite(Bytes& out)
{
    ReceivedWrite w;
    w.frame = frame_;
    w.payload.assign(frame_.begin() + 2, frame_.end() - 1);
    w.checkOk = CheckByte(frame_.data(), frame_.size() - 1) == frame_.back();
    frame_.clear();
    if (!w.checkOk) {
        ++badCheckWrites_;
    } else if (w.payload.size() >= kBlockHeader && faults_.ignoreWrites) {
        // Acknowledged as stored, and forgotten: the fault a read-back check exists for.
        w.acknowledged = true;
    } else if (w.payload.size() >= kBlockHeader) {
        const Bytes& p = w.payload;
        data_.block.throttleMax = static_cast<uint16_t>(p[0] << 8 | p[1]);
        data_.block.throttleMin = static_cast<uint16_t>(p[2] << 8 | p[3]);
        // The block has a fixed size: option bytes beyond it have nowhere to go.
        const size_t n = std::min(p.size() - kBlockHeader, data_.block.options.size());
        std::copy_n(p.begin() + kBlockHeader, n, data_.block.options.begin());
        w.stored = true;
        w.acknowledged = true;
    }
    writes_.push_back(std::move(w));

    ++counts_[Message::Write];
    ++messages_;
    if (observer_)
        observer_(Event{Message::Write, &writes_.back()});
    if (writes_.back().acknowledged)
        Reply(Message::Write, Bytes{faults_.writeEndInsteadOfAck ? kWriteEnd : kWriteAck}, false,
              out);
}

const Bytes& Regulator::NextLogRecord(Message m)
{
    static const Bytes endRecord{kLogEnd};
    if (m == Message::LogStart || !logStarted_)
        logCursor_ = 0;
    else if (m == Message::LogNext)
        logCursor_ = std::min(logCursor_ + 1, data_.log.size());
    logStarted_ = true;
    return logCursor_ < data_.log.size() ? data_.log[logCursor_] : endRecord;
}

void Regulator::Reply(Message m, const Bytes& body, bool framed, Bytes& out)
{
    if (faults_.silent || faults_.mute.count(m))
        return;
    if (faults_.stall) {
        held_.push_back({body, framed});
        return;
    }
    for (const HeldReply& r : std::exchange(held_, {}))
        Send(r.body, r.framed, out);
    Send(body, framed, out);
}

void Regulator::Send(const Bytes& body, bool framed, Bytes& out)
{
    if (!faults_.garbage.empty())
        Emit(faults_.garbage, out);
    Bytes reply;
    if (framed) {
        reply.push_back(kFrameStart);
        reply.push_back(static_cast<uint8_t>(body.size()));
        reply.insert(reply.end(), body.begin(), body.end());
        uint8_t check = CheckByte(reply.data(), reply.size());
        if (faults_.badCheckAlways || faults_.badCheckFrames > 0) {
            if (faults_.badCheckFrames > 0)
                --faults_.badCheckFrames;
            check ^= 0xFF;
        }
        reply.push_back(check);
        // Noise on the line in the middle of the frame: the bytes counted by the length byte
        // are no longer the payload.
        reply.insert(reply.begin() + 2, faults_.garbageInside.begin(), faults_.garbageInside.end());
    } else {
        reply = body;
    }
    if (faults_.chunkSize == 0) {
        Emit(reply, out);
        return;
    }
    for (size_t pos = 0; pos < reply.size(); pos += faults_.chunkSize) {
        const size_t len = std::min(faults_.chunkSize, reply.size() - pos);
        Emit(Bytes(reply.begin() + pos, reply.begin() + pos + len), out);
    }
}

void Regulator::Emit(const Bytes& piece, Bytes& out)
{
    out.insert(out.end(), piece.begin(), piece.end());
    if (sink_)
        sink_(piece);
}

} // namespace regsim
