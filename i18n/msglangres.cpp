#include "i18n/msglangres.h"

TsmlMsgLangRes::TsmlMsgLangRes() : msgList_(BuiltInMessages()) {}

TsmlMsgLangRes::TsmlMsgLangRes(QObject* owner, const QString& programDir)
    : TsmlLangRes(owner, programDir), msgList_(BuiltInMessages())
{
}

void TsmlMsgLangRes::SetMsgList(const QStringList& lines)
{
    msgList_ = lines;
    if (!applying_)
        Reapply();
}

void TsmlMsgLangRes::ApplyLanguage()
{
    applying_ = true;
    for (QString& line : msgList_) {
        const int eq = line.indexOf(QLatin1Char('='));
        const QString name = eq < 0 ? line : line.left(eq);
        const QString text = eq < 0 ? QString() : line.mid(eq + 1);
        if (const auto value = ReadText(name, text))
            line = name + QLatin1Char('=') + *value;
    }
    applying_ = false;
}

QStringList TsmlMsgLangRes::BuiltInMessages()
{
    // The blanks at the ends of Str1, Str3, Str4, Str10 and Str60, and the two blanks after
    // "aplikace", belong to the texts: other texts are appended to them.
    return {
        QStringLiteral("Str1=Chyba pri otevírání souboru "),
        QStringLiteral("Str2=Chyba !!!"),
        QStringLiteral("Str3=Chyba pri ukládání souboru "),
        QStringLiteral("Str4= Regulátor NEPRIPOJEN "),
        QStringLiteral("Str10=Pro správnou funkci potrebuje aplikace  soubor "),
        QStringLiteral("Str11=Pro správnou funkci potrebuje aplikace  nový soubor k regulátoru."),
        QStringLiteral("Str30=pokud jej nemáte mužete si ho ZDARMA stáhnout na adrese "
                       "www.korvalinex.cz"),
        QStringLiteral("Str53=Komunikacní zarízení není zapojeno nebo má potíže."),
        QStringLiteral("Str60= Regulátor PRIPOJEN "),
        QStringLiteral("Str84=Soubory aplikace Korvalinex regulator [*.zeq]|*.zeq"),
        // Texts of our own, for data the regulator or a file got wrong.
        QStringLiteral("Str90=Hodnota %1 není v souboru %2, zobrazena je tak, jak prišla."),
        QStringLiteral(
            "Str91=Verze regulátoru \"%1\" neobsahuje císlo verze, data regulátoru nelze precíst."),
        QStringLiteral("Str92=Soubor %1 nelze zapsat."),
        QStringLiteral("Str93=Soubor nápovedy %1 nebyl nalezen."),
        QStringLiteral("Str94=Nápoveda není k dispozici, dokud není vybrán jazyk."),
        // Parameter files and the EEPROM log.
        QStringLiteral("Str110=Pro tento regulátor není sestaven panel parametru (chybí soubor "
                       "modelu), soubor parametru nelze otevrít ani uložit."),
        QStringLiteral("Str111=Soubor má jen %1 rádku, panel jich potrebuje nejméne %2."),
        QStringLiteral("Str112=\"%1\" na rádku %2 není celé císlo."),
        QStringLiteral("Str113=Nacítám EEPROM, uloženo záznamu: %1"),
        QStringLiteral("Str114=EEPROM nactena, uloženo záznamu celkem: %1"),
        QStringLiteral("Str115=Soubor %1 nelze zapsat: %2"),
        QStringLiteral("Str116=USB adaptér je pripojen, ale chybí oprávnení ho otevrít (%1). "
                       "Nainstalujte pravidlo udev data/99-korvalinex-ftdi.rules do "
                       "/etc/udev/rules.d a adaptér odpojte a znovu pripojte (viz README)."),
    };
}

QString TsmlMsgLangRes::LookupMessage(const QString& key) const
{
    for (const QString& line : msgList_) {
        const int eq = line.indexOf(QLatin1Char('='));
        const QString name = eq < 0 ? line : line.left(eq);
        if (name.compare(key, Qt::CaseInsensitive) == 0)
            return eq < 0 ? QString() : line.mid(eq + 1);
    }
    return {};
}
