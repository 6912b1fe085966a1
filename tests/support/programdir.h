#pragma once
// A temporary program folder: what the executable would find beside itself.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

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

private:
    QTemporaryDir dir_;
};
