#pragma once
// Every file the program writes goes through here: the content goes to a temporary file beside the
// target, is flushed to disk, and then renamed over the target, so a crash or a full disk never
// leaves a half-written file behind. The old file stays intact when anything fails.

#include <QByteArray>
#include <QString>

// False on failure; *error (when given) holds the system's reason.
bool WriteFileAtomically(const QString& path, const QByteArray& content, QString* error = nullptr);
