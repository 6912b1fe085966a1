#include "i18n/formlanguage.h"

#include "i18n/formlangres.h"
#include "i18n/languages.h"

#include <QEvent>
#include <QWidget>

bool ApplyCurrentLanguage(QWidget* form, const QString& code)
{
    const QString file = LanguageFileOf(code);
    if (!form || file.isEmpty())
        return false;
    auto* res = form->findChild<TsmlFormLangRes*>(QString(), Qt::FindDirectChildrenOnly);
    if (!res)
        return false;
    res->SetLangFileName(file);
    return true;
}

namespace {

class TActivationWatch : public QObject {
public:
    TActivationWatch(QWidget* form, std::function<QString()> code)
        : QObject(form), code_(std::move(code))
    {
        form->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::WindowActivate)
            ApplyCurrentLanguage(static_cast<QWidget*>(watched), code_());
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<QString()> code_;
};

} // namespace

TsmlFormLangRes* AttachFormLanguage(QWidget* form, const QString& programDir,
                                    std::function<QString()> currentCode,
                                    const QStringList& stringProperties)
{
    auto* res = new TsmlFormLangRes(form, programDir);
    res->setObjectName(QStringLiteral("smlFormLangRes1"));
    res->SetAutoCreateMode(false);
    res->SetIgnoreEmptyString(true);
    res->SetStringProperties(stringProperties);
    res->SetStringsProperties({QStringLiteral("Tabs"), QStringLiteral("Items")});
    res->SetIgnoreFormCaption(false);
    res->SetActive(true);
    new TActivationWatch(form, std::move(currentCode));
    return res;
}
