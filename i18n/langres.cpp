#include "i18n/langres.h"

#include "common/profile.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QWidget>

namespace {

// A value that no language file can hold tells a missing key from an empty one.
const QString kMissingValue = QString(QChar(0xFFFF));

bool IsWindowOrContainer(const QObject* owner)
{
    if (!owner)
        return false;
    if (const auto* w = qobject_cast<const QWidget*>(owner))
        return w->isWindow();
    return true;
}

QString DefaultProgramDir() { return QCoreApplication::applicationDirPath() + QLatin1Char('/'); }

} // namespace

TsmlLangRes::TsmlLangRes(QObject* owner, const QString& programDir)
    : QObject(owner), owner_(owner),
      programDir_(programDir.isEmpty() ? DefaultProgramDir() : programDir),
      langFile_(programDir_ + kDefLangFile)
{
    if (!IsWindowOrContainer(owner)) {
        setParent(nullptr);
        throw ELangResError(kOwnerError);
    }
}

TsmlLangRes::TsmlLangRes() = default;

TsmlLangRes::~TsmlLangRes() = default;

QString TsmlLangRes::Section() const { return owner_ ? owner_->objectName() : QString(); }

void TsmlLangRes::SetActive(bool on)
{
    active_ = on;
    Reapply();
}

QString TsmlLangRes::LangFileName() const { return QFileInfo(langFile_).fileName(); }

void TsmlLangRes::SetLangFileName(const QString& name)
{
    langFile_ = programDir_ + name;
    Reapply();
}

void TsmlLangRes::SetIgnoreEmptyString(bool on)
{
    ignoreEmptyString_ = on;
    Reapply();
}

void TsmlLangRes::SetAutoCreateMode(bool on)
{
    autoCreateMode_ = on;
    Reapply();
}

void TsmlLangRes::Reapply()
{
    if (active_ && owner_)
        ApplyLanguage();
}

std::optional<QString> TsmlLangRes::ReadText(const QString& key, const QString& current) const
{
    const QString section = Section();
    const QString value = GetPrivateProfileString(section, key, kMissingValue, langFile_);
    if (value == kMissingValue) {
        if (autoCreateMode_ && !(current.isEmpty() && ignoreEmptyString_))
            WritePrivateProfileString(section, key, current, langFile_);
        return std::nullopt;
    }
    if (value.isEmpty())
        return std::nullopt;
    return value;
}
