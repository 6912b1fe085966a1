#pragma once
// Every file the program reads whole from the user's disk comes through here with a size limit far
// above any real file of its kind. The limit is checked before anything is read, so a huge file
// (or a device that never ends) costs one stat, not the memory and the seconds of reading it.

#include <QByteArray>
#include <QString>

struct TFileRead {
    QByteArray bytes;
    // 0, or the errno-style reason: ENOENT and the like from the system, EISDIR for a folder,
    // EINVAL for a pipe or a device, EFBIG for a file over the limit (also one that grows past it
    // while it is read).
    int error = 0;
    qint64 limit = 0;

    bool Ok() const { return error == 0; }
    // The reason as a user reads it; a file over the limit names the limit.
    QString Reason() const;
};

TFileRead ReadFileWithLimit(const QString& path, qint64 maxBytes);
