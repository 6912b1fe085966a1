#pragma once
// What the connection cycle tells its front ends happened, as typed events. The window and the
// command-line tool both listen; neither works an outcome out of what would be drawn. A listener
// is told during the cycle's own handling: it may look at the cycle, but starts no transaction
// before that handling has returned (post it, as on a zero-delay timer).

#include "protocol/eepromlog.h"

#include <QByteArray>
#include <QString>

// The regulator as its identification reply described it.
struct TRegulatorIdentity {
    QString name, version, date;
    unsigned char flags = 0; // the reply's last byte

    static constexpr unsigned char kFlagKeepsLog = 0x80;
    static constexpr unsigned char kFlagAlternateScale = 0x10;
    // The regulator keeps a log in its EEPROM that can be downloaded.
    bool KeepsLog() const { return flags & kFlagKeepsLog; }
    // Its display values are scaled by the model file's alternate multipliers.
    bool AlternateScale() const { return flags & kFlagAlternateScale; }
};

struct TIdentifiedEvent {
    TRegulatorIdentity identity;
    // No model definition file for this regulator in the current language: nothing can be shown,
    // and the cycle goes back to not connected to try again.
    bool modelFileMissing = false;
};

struct TBlockReadEvent {
    QByteArray payload; // the read reply's payload, as decoded into the window and the panel
};

struct TWriteTakenEvent {
    QByteArray payload; // what the write frame carried
};

// Where the line failed. The detail is the link's own text (errno, operation), for verbose
// output and reports; the user is told in the program's words.
struct TLinkErrorEvent {
    enum class Where { Send, Receive };
    Where where = Where::Send;
    QString detail;
};

struct TLogEvent {
    TLogEnding ending = TLogEnding::Running;
    int stored = 0;   // records the file holds
    int received = 0; // records the regulator sent and the file writer was handed
    QString path;     // the log file
};

class ICycleEvents {
public:
    virtual ~ICycleEvents() = default;
    // The identification reply was taken and the panel built for it.
    virtual void Identified(const TIdentifiedEvent&) {}
    // A read reply was decoded whole: the window shows the block the regulator holds.
    virtual void BlockRead(const TBlockReadEvent&) {}
    // A write frame went out (or its send failed part way): until its acknowledgement the
    // regulator may or may not hold it.
    virtual void WriteSent(const TWriteTakenEvent&) {}
    // The regulator took a write: the acknowledgement, or the end byte.
    virtual void WriteAcknowledged(const TWriteTakenEvent&) {}
    virtual void WriteEnded(const TWriteTakenEvent&) {}
    // The default request went out; the read of the factory block follows.
    virtual void FactoryResetSent() {}
    // The disk took one more record of the log; then the download's end, once.
    virtual void LogRecordStored(const TLogEvent&) {}
    virtual void LogEnded(const TLogEvent&) {}
    // A reset is about to forget the regulator: the panel still shows what it showed.
    virtual void ConnectionResetting() {}
    // Two presence queries went unanswered: back to not connected.
    virtual void RegulatorLost() {}
    // A transaction stopped answering, or the line came back: back to not connected.
    virtual void TimeoutReset() {}
    virtual void LinkError(const TLinkErrorEvent&) {}
    // The busy flag, which every start of a transaction refuses while it is set.
    virtual void BusyChanged(bool) {}
};
