#include "i18n/msglangres.h"

TsmlMsgLangRes::TsmlMsgLangRes() : msgList_(BuiltInMessages()) {}

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
