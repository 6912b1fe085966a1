// The built-in message table and its lookup.

#include "i18n/msglangres.h"

#include <gtest/gtest.h>

TEST(LookupMessage, BuiltInCzechTexts)
{
    const TsmlMsgLangRes m;
    const struct {
        const char* key;
        const char* text;
    } table[] = {
        {"str1", "Chyba pri otevírání souboru "},
        {"str2", "Chyba !!!"},
        {"str3", "Chyba pri ukládání souboru "},
        {"str4", " Regulátor NEPRIPOJEN "},
        {"str10", "Pro správnou funkci potrebuje aplikace  soubor "},
        {"str11", "Pro správnou funkci potrebuje aplikace  nový soubor k regulátoru."},
        {"str53", "Komunikacní zarízení není zapojeno nebo má potíže."},
        {"str60", " Regulátor PRIPOJEN "},
        {"str84", "Soubory aplikace Korvalinex regulator [*.zeq]|*.zeq"},
        // Shown as the regulator's makers wrote it when no language file has another text.
        {"str210", "Špatná komunikace s EEPROM."},
    };
    for (const auto& row : table)
        EXPECT_EQ(m.LookupMessage(row.key), QString::fromUtf8(row.text)) << row.key;
    EXPECT_TRUE(m.LookupMessage("str30").startsWith(
        QString::fromUtf8("pokud jej nemáte mužete si ho ZDARMA stáhnout na adrese ")));
}

TEST(LookupMessage, KeysMatchRegardlessOfCaseAndOnlyTheFirstEqualsSeparates)
{
    TsmlMsgLangRes m;
    m.SetMsgList({"Str5=a=b", "STR6=", "str7", "str5=second"});
    EXPECT_EQ(m.LookupMessage("str5"), "a=b");
    EXPECT_EQ(m.LookupMessage("sTr5"), "a=b");
    EXPECT_EQ(m.LookupMessage("str6"), "");
    EXPECT_EQ(m.LookupMessage("str7"), "");
    EXPECT_EQ(m.LookupMessage("str8"), "");
    EXPECT_EQ(m.LookupMessage("str"), "");
}
