#include "i18n/langres.h"

#include "common/profile.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {

// A value that no language file can hold tells a missing key from an empty one.
const QString kMissingValue = QString(QChar(0xFFFF));

TWidgetWindowTest g_widgetWindowTest = nullptr;

bool IsWindowOrContainer(const QObject* owner)
{
    if (!owner)
        return false;
    // Whether a widget is a window is the widget library's to say; without it nothing here can
    // be a widget owner.
    if (owner->isWidgetType())
        return g_widgetWindowTest ? g_widgetWindowTest(owner) : false;
    return true;
}

QString DefaultProgramDir() { return QCoreApplication::applicationDirPath() + QLatin1Char('/'); }

} // namespace

void SetWidgetWindowTest(TWidgetWindowTest test) { g_widgetWindowTest = test; }

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
