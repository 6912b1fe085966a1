#pragma once
// A temporary program folder: what the executable would find beside itself.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

// A file of the source tree (the data folder's models and lookup tables).
inline QByteArray SourceFile(const QString& rel)
{
    QFile f(QStringLiteral(KX_SOURCE_DIR "/") + rel);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

class TProgramDir {
public:
    TProgramDir() { dir_.setAutoRemove(true); }
    QString Path() const { return dir_.path() + QLatin1Char('/'); }
    QString File(const QString& rel) const { return Path() + rel; }
    void Write(const QString& rel, const QByteArray& content) const
    {
        const QString path = File(rel);
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(content);
    }
    QByteArray Read(const QString& rel) const
    {
        QFile f(File(rel));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return f.readAll();
    }
    bool Exists(const QString& rel) const { return QFileInfo::exists(File(rel)); }
    // The demo regulator's model definition (when asked for) and the temperature lookup tables.
    void WriteDemoFiles(bool withModel = true) const
    {
        if (withModel)
            Write("Regulators/CZ/KVX-40 OPTO.ini",
                  SourceFile("data/Regulators/CZ/KVX-40 OPTO.ini"));
        Write("Teplota1.txt", SourceFile("data/Teplota1.txt"));
        Write("Teplota2.txt", SourceFile("data/Teplota2.txt"));
    }

private:
    QTemporaryDir dir_;
};
