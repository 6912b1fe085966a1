#pragma once
// A write checked against the block read back right after it: does the regulator hold what was
// sent, and where not, which settings differ. The window and the command-line tool both read back
// every write and judge it here.

#include "models/backup.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

class TPanelModel;

// What a write of this panel would send to put back the block read: the write payload of the read
// payload, as a freshly built panel of the model would have it; empty when the payload does not
// hold a block.
QByteArray HeldWritePayload(const QByteArray& readPayload, const QString& version,
                            const TPanelModel& panel);

// One setting the regulator holds otherwise than the write sent it.
struct TWriteDifference {
    enum class Kind { ThrottleMin, ThrottleMax, Group, Unassigned };
    Kind kind = Kind::Group;
    int index = -1;  // the option group; -1 for the others
    QString caption; // the group's title; empty for the others, whose caption is the caller's
    QString sent, readBack;
};

struct TWriteCheck {
    QByteArray sent, held; // write payloads: as sent, and as the read back puts it
    QList<TWriteDifference> differences;
    bool Confirmed() const { return !held.isEmpty() && sent == held; }
};

// The write payload sent against the read payload read back, with the captions and item texts of
// the panel's model.
TWriteCheck CheckWrite(const QByteArray& sent, const QByteArray& readPayload,
                       const QString& version, const TPanelModel& panel);
