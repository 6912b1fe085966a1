#pragma once
// The user settings and setup.ini, and the working directories of the program folder.

#include <QString>
#include <QStringList>

// Five texts held for the whole run, exactly as read or typed: nothing is converted or validated.
struct TUserSettings {
    QString com = QStringLiteral("COM1");
    QString language = QStringLiteral("CZ");
    QString poles = QStringLiteral("2");
    QString ratio = QStringLiteral("1");
    QString device = QStringLiteral("USB");
};

inline const QString kSetupFile = QStringLiteral("setup.ini");
inline const QString kSetupSection = QStringLiteral("SETUP");

// The working directories, in the order they are created: a parent before its children.
QStringList WorkingDirectories();

// Creates the missing working directories in programDir; throws EKorvalinexError with the system's
// reason when one cannot be made.
void CreateWorkingDirectories(const QString& programDir);

// Reads the five keys with their defaults, opening the file once.
TUserSettings ReadUserSettings(const QString& programDir);

// Writes LANGUAGE, POCETP and PREVOD, opening the file once. False on failure, with *path set to
// the file's full path.
bool WriteClosingSettings(const QString& programDir, const TUserSettings& s, QString* path);
