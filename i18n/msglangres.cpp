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
        QStringLiteral(
            "Str110=Pro tento regulátor není sestaven panel parametrů (chybí definiční soubor "
            "regulátoru), soubor nastavení nelze otevřít ani uložit."),
        QStringLiteral(
            "Str111=Soubor je příliš krátký (řádků: %1), panel parametrů jich potřebuje nejméně "
            "%2."),
        QStringLiteral("Str112=\"%1\" na rádku %2 není celé císlo."),
        QStringLiteral("Str113=Nacítám EEPROM, uloženo záznamu: %1"),
        QStringLiteral("Str114=EEPROM nactena, uloženo záznamu celkem: %1"),
        QStringLiteral("Str115=Soubor %1 nelze zapsat: %2"),
        QStringLiteral("Str116=USB adaptér je připojen, ale chybí oprávnění ho otevřít (%1). "
                       "Odpojte ho a znovu připojte. Přenosná kopie programu potřebuje nejdřív "
                       "pravidlo udev 60-korvalinex-ftdi.rules v /etc/udev/rules.d (balíček ho "
                       "instaluje sám); při vzdáleném přihlášení se přidejte do skupiny plugdev a "
                       "přihlaste se znovu. Viz README, oddíl \"Troubleshooting\"."),
        // Backups before a write or factory reset, and the command-line tool.
        QStringLiteral("Str130=Zálohu nastavení regulátoru nelze uložit, regulátor nebyl "
                       "prepsán: %1"),
        QStringLiteral("Str131=z regulátoru dosud nebyla nactena žádná data"),
        QStringLiteral("Str132=Záloha uložena: %1"),
        QStringLiteral("Str133=Na %1 neodpovídá žádný regulátor."),
        QStringLiteral("Str134=Spojení s regulátorem selhalo: %1"),
        QStringLiteral("Str135=Chybí definiční soubor regulátoru %1"),
        QStringLiteral("Str136=Regulátor po zápisu neobsahuje zapsaná data. Zapsáno: %1, "
                       "precteno: %2"),
        QStringLiteral("Str137=Chybné zadání: %1"),
        QStringLiteral("Str138=Zálohu nelze použít: %1"),
        QStringLiteral("Str139=Záloha patrí regulátoru %1, pripojen je %2."),
        QStringLiteral("Str140=Soubor %1 nelze zapsat: %2"),
        QStringLiteral("Str141=Není pripojen žádný adaptér USB."),
        QStringLiteral("Str142=Plyn min. musí být 0,70 až 1,40 ms, plyn max. 1,70 až 2,30 ms."),
        QStringLiteral(
            "Str143=Panel parametrů regulátoru %1 neodpovídá záloze, zápis by nebyl shodný."),
        QStringLiteral("Str144=Nacítám EEPROM, záznamu: %1"),
        QStringLiteral("Str145=Stahování EEPROM selhalo: %1"),
        // What is wrong with a command line of korvalinex-cli.
        QStringLiteral("Str146=neznámý příkaz \"%1\""),
        QStringLiteral("Str147=nečekané \"%1\""),
        QStringLiteral("Str148=%1 nepřijímá %2"),
        QStringLiteral("Str149=%1 potřebuje hodnotu"),
        // Usage of korvalinex-cli; a backslash and "n" stand for a line break, as a language file
        // holds one line per text.
        QStringLiteral("Str150=Použití: korvalinex-cli COMMAND [OPTIONS]\\nPříkazy: ports, "
                       "identify, read, write FILE.zeq, default, log -o FILE, restore BACKUP, diff "
                       "FILE [FILE2], doctor, sheet [FILE] -o OUT\\nkorvalinex-cli COMMAND --help "
                       "popíše jeden příkaz; korvalinex-cli --version vypíše verzi."),
        QStringLiteral(
            "Str151=Použití: korvalinex-cli ports [--json]\\nVypíše sériové porty, jejich stálá "
            "jména z /dev/serial/by-id se zařízením, na které vedou, a připojené USB adaptéry FTDI "
            "(sériové číslo, popis); u portu nebo adaptéru, který nelze otevřít, uvede důvod."),
        QStringLiteral(
            "Str152=Použití: korvalinex-cli identify [LINK...] [--json]\\nZobrazí název "
            "regulátoru, verzi, datum aktualizace a zda regulátor uchovává záznamy v EEPROM."),
        QStringLiteral("Str153=Použití: korvalinex-cli read [LINK...] [--json] [-o FILE.zeq|-] "
                       "[--poles N] [--ratio X]\\nNačte nastavení regulátoru a zobrazí je podle "
                       "definičního souboru regulátoru v daném jazyce; -o je uloží jako soubor "
                       "nastavení, -o - tento soubor vypíše."),
        QStringLiteral(
            "Str154=Použití: korvalinex-cli write FILE.zeq [LINK...] [--throttle-min MS] "
            "[--throttle-max MS] [--only GROUP,...] [--dry-run] [--if-different] [--force] [--each "
            "[--record FILE.csv]] [--json]\\nNačte regulátor, použije soubor nastavení stejně jako "
            "okno programu, zapíše, načte zpět a zkontroluje. Předtím uloží zálohu. --dry-run "
            "ukáže, "
            "co by se změnilo (jako diff), a nic neodešle; --if-different nic nezapíše a vypíše "
            "\"unchanged\", když by se nic nezměnilo. Soubor, který k regulátoru nepasuje, odmítne "
            "dřív, než cokoli zálohuje nebo zapíše (návratový kód 11); --force zapíše, co pasuje. "
            "--only vezme ze souboru jen vyjmenované skupiny voleb (názvy jako v definičním "
            "souboru "
            "regulátoru, nebo čísla od 1), ostatní nastavení zůstanou, jak je regulátor má. --each "
            "je "
            "výrobní linka na jednom spojení: čeká na regulátor, obslouží ho, vypíše pro něj jeden "
            "řádek, počká, až zmizí, a obslouží další; Ctrl-C ji ukončí se součtem; --record přidá "
            "pro každý regulátor řádek do souboru CSV."),
        QStringLiteral("Str155=Použití: korvalinex-cli default [LINK...] [--json]\\nObnoví tovární "
                       "nastavení a pak nastavení načte. Předtím uloží zálohu."),
        QStringLiteral("Str156=Použití: korvalinex-cli log -o FILE|- [LINK]\\nStáhne záznamy z "
                       "EEPROM regulátoru do souboru FILE (-: stdout); průběh vypisuje na stderr."),
        QStringLiteral("Str157=Použití: korvalinex-cli restore BACKUP [LINK...]\\nZapíše zálohu "
                       "(soubor .txt vedle souboru .zeq v Data/<název regulátoru>/Backup) přesně "
                       "zpět, načte ji zpět a zkontroluje. Předtím uloží zálohu."),
        QStringLiteral(
            "Str158=LINK: --port PATH|NAME|COMn nebo --usb [SERIAL], obojí i vícekrát pro více "
            "regulátorů (výchozí: setup.ini; NAME, např. ttyUSB0, se hledá v /dev; SERIAL vybere "
            "adaptér podle sériového čísla, jinak první vypsaný); --jobs N (kolik spojení "
            "najednou, výchozí 1); --lang CZ|EN|GE|Other; --data DIR (složka s Regulators/, "
            "výchozí: složka programu); --timeout S (omezuje celý běh na každém spojení, výchozí "
            "10, log 600); -q tiše; -v vypisuje, co se děje, -vv navíc každý bajt na lince; "
            "funguje i --option=VALUE.\\nNávratový kód: 0 hotovo, 1 chyba, 2 chybné zadání, 3 "
            "neodpovídá žádný regulátor, 4 chyba spojení, 5 chybí definiční soubor regulátoru, 6 "
            "kontrola po zápisu selhala, 7 záloha selhala, 8 zápis je nejistý (obnovte uvedenou "
            "zálohu), 9 přerušeno před odesláním čehokoli, 10 některá z více spojení selhala, 11 "
            "soubor k regulátoru nepasuje, 12 doctor našel problém."),
        QStringLiteral("Str159=%1 nepřijímá hodnotu \"%2\""),
        QStringLiteral("Str160=chybí příkaz (je na prvním místě)"),
        QStringLiteral("Str161=%1 potřebuje %2"),
        QStringLiteral("Str162=--port a --usb se navzájem vylučují"),
        // How the EEPROM log download ended.
        QStringLiteral("Str163=EEPROM načtena, disk ještě zapisuje, uloženo záznamů: %1 z %2"),
        QStringLiteral("Str164=Načítání EEPROM ukončeno chybami komunikace, uloženo záznamů: %1"),
        QStringLiteral(
            "Str165=Načítání EEPROM ukončeno, regulátor přestal odpovídat, uloženo záznamů: %1"),
        QStringLiteral(
            "Str166=Načítání EEPROM ukončeno chybou zápisu na disk, uloženo záznamů: %1"),
        // Why the USB adapter cannot be opened: short for the status bar, in full for the
        // settings dialog, the link error box and the tool.
        QStringLiteral("Str180=Chybí přístup k USB adaptéru – klikněte sem"),
        QStringLiteral("Str181=USB adaptér používá jiný program – klikněte sem"),
        QStringLiteral("Str182=USB adaptér byl odpojen – klikněte sem"),
        QStringLiteral("Str183=USB adaptér nelze otevřít – klikněte sem"),
        QStringLiteral("Str184=USB adaptér používá jiný program nebo ovladač (%1). Ukončete ten "
                       "program; Korvalinex pak adaptér otevře sám."),
        QStringLiteral(
            "Str185=USB adaptér byl odpojen právě při otevírání (%1). Připojte ho znovu."),
        QStringLiteral("Str186=USB adaptér nelze otevřít (%1). Odpojte ho a znovu připojte."),
        // Beside an adapter that korvalinex-cli ports lists but cannot open, and the tool's
        // complaint about a serial number no adapter has.
        QStringLiteral("Str190=bez oprávnění"),
        QStringLiteral("Str191=používá jiný program"),
        QStringLiteral("Str192=nelze otevřít"),
        QStringLiteral("Str193=Žádný připojený USB adaptér nemá sériové číslo %1 (korvalinex-cli "
                       "ports vypíše připojené adaptéry)."),
        // On the serial port page when the user may open none of the serial ports there.
        QStringLiteral("Str200=Sériové porty tu jsou, ale nemáte oprávnění je otevřít. Přidejte "
                       "se do skupiny dialout příkazem sudo usermod -aG dialout $USER, pak se "
                       "odhlaste a znovu přihlaste."),
        // Help that no program could show, and where the EEPROM log went.
        QStringLiteral("Str205=Nápovědu se nepodařilo otevřít: v systému není program, který by ji "
                       "zobrazil. Otevřete soubor %1 ve webovém prohlížeči."),
        QStringLiteral("Str206=%1, soubor %2"),
        // What does not fit when a parameter file is set against the regulator's definition.
        QStringLiteral("Str215=počet hodnot: v souboru %1, v tomto regulátoru %2"),
        QStringLiteral("Str216=počet skupin voleb: v souboru %1, v tomto regulátoru %2"),
        QStringLiteral("Str217=skupina %1 (%2) nemá položku %3"),
        QStringLiteral("Str218=soubor nemá řádek \"%1\""),
        QStringLiteral("Str219=skupina %1 (%2): \"%3\" není číslo položky"),
        // Too many damaged records ended the EEPROM log download.
        QStringLiteral("Str210=Špatná komunikace s EEPROM."),
        // korvalinex-cli: doubt about a write, signals, several links, files and folders.
        QStringLiteral("Str230=%1 nelze použít s více linkami."),
        QStringLiteral("Str231=Zápis je nejistý: mohl do regulátoru dojít, ale nebyl potvrzen. "
                       "Původní stav vrátí: korvalinex-cli restore \"%1\""),
        QStringLiteral("Str232=Přerušeno; do regulátoru nebylo nic zapsáno."),
        QStringLiteral("Str233=Výsledky nelze vypsat: %1"),
        QStringLiteral("Str234=Selhalo %1 z %2 linek."),
        QStringLiteral("Str235=Port %1 nelze otevřít: %2"),
        QStringLiteral("Str236=Soubor parametrů %1 nelze použít: %2"),
        QStringLiteral("Str237=Otevírám %1"),
        QStringLiteral("Str238=Na %3 odpovídá %1 %2"),
        QStringLiteral("Str239=Zapisuji do regulátoru"),
        QStringLiteral("Str240=Čtu zpět"),
        QStringLiteral("Str241=Složku %1 nelze vytvořit: %2"),
        QStringLiteral("Str242=Běh neskončil do %1 s (--timeout)."),
        // The comparison of a parameter file with the panel, and the list of backups.
        QStringLiteral("Str275=Liší se %1 z %2 nastavení."),
        QStringLiteral("Str276=Soubor se ve všech nastaveních shoduje s oknem."),
        QStringLiteral("Str277=Soubor k tomuto regulátoru nepasuje: %1"),
        QStringLiteral("Str278=Nastavení"),
        QStringLiteral("Str279=V okně"),
        QStringLiteral("Str280=V souboru"),
        QStringLiteral("Str281=Datum a čas"),
        QStringLiteral("Str282=Druh"),
        QStringLiteral("Str283=Regulátor"),
        QStringLiteral("Str284=Verze"),
        QStringLiteral("Str285=Spojení"),
        QStringLiteral("Str286=zápis"),
        QStringLiteral("Str287=tovární nastavení"),
        QStringLiteral("Str288=Nečitelné zálohy vynechány: %1"),
        QStringLiteral("Str289=Tento regulátor zatím nemá žádné zálohy. Záloha vzniká před každým "
                       "zápisem a před obnovením továrního nastavení."),
        QStringLiteral(
            "Str290=Soubor nastavení této zálohy chybí, zálohu nelze porovnat ani načíst."),
        QStringLiteral("Str291=Zálohy regulátoru %1 ve složce %2"),
        QStringLiteral("Str292=Soubor: %1"),
        // korvalinex-cli diff, and a write whose file does not fit the regulator.
        QStringLiteral(
            "Str245=Použití: korvalinex-cli diff FILE [LINK] [--json] | korvalinex-cli diff FILE "
            "FILE2 [--model NAME] [--json]\\nPorovná nastavení regulátoru (skupiny voleb) se "
            "souborem nastavení (.zeq) nebo se zálohou (jejím záznamem .txt, který obsahuje i meze "
            "plynu), nebo dva soubory navzájem podle definice regulátoru zadané přes --model nebo "
            "zálohou; pro každé nastavení, které se liší, jeden řádek: [název] staré -> nové. "
            "Měřené hodnoty nejsou nastavení a neporovnávají se. Návratový kód: 0 shodné, 1 "
            "rozdílné, 2 potíž se souborem nebo příkazovým řádkem; 3, 4, 5 jako u ostatních "
            "příkazů."),
        QStringLiteral("Str246=Soubor %1 neodpovídá regulátoru, nic nebylo zapsáno (--force "
                       "zapíše, co odpovídá):"),
        QStringLiteral("Str247=Soubor %1 neodpovídá regulátoru %2:"),
        QStringLiteral("Str248=Záloha %1 patří regulátoru %2, ne %3."),
        // The count of changes not yet written, and the question before loading a file that does
        // not fit.
        QStringLiteral("Str260=Nezapsané změny: %1"),
        QStringLiteral("Str261=Soubor %1 neodpovídá tomuto regulátoru:"),
        QStringLiteral("Str262=Přesto ho načíst?"),
        // The connection check, its window and korvalinex-cli doctor; the first start.
        QStringLiteral("Str400=v pořádku"),
        QStringLiteral("Str401=PROBLÉM"),
        QStringLiteral("Str402=nelze zjistit"),
        QStringLiteral("Str403=Co udělat:"),
        QStringLiteral("Str404=Korvalinex %1, kontrola připojení %2"),
        QStringLiteral("Str405=Nalezené problémy: %1"),
        QStringLiteral("Str406=Žádný problém nenalezen."),
        QStringLiteral("Str410=Spojení v setup.ini: sériový port %1."),
        QStringLiteral("Str411=Spojení v setup.ini: USB adaptér %1."),
        QStringLiteral("Str412=Kontrolované spojení: sériový port %1."),
        QStringLiteral("Str413=Kontrolované spojení: USB adaptér %1."),
        QStringLiteral("Str414=(první připojený)"),
        QStringLiteral("Str420=%1 existuje."),
        QStringLiteral("Str421=%1 existuje; nyní vede na %2."),
        QStringLiteral("Str422=%1 neexistuje."),
        QStringLiteral("Str423=Připojte adaptér a zkontrolujte kabel. Příkaz ls /dev/ttyUSB* "
                       "/dev/ttyACM* /dev/serial/by-id vypíše sériová zařízení, která tu jsou; to "
                       "správné vyberte v Nastavení."),
        QStringLiteral("Str424=%1 neexistuje, sériový adaptér je ale připojen jinde: %2."),
        QStringLiteral(
            "Str425=Adaptér po novém připojení dostal jiné jméno. V Nastavení vyberte jeho stálé "
            "jméno %1: to zůstává stejné, ať adaptér dostane jakékoli číslo."),
        QStringLiteral("Str426=%1 není sériové zařízení."),
        QStringLiteral("Str427=%1 existuje; jeho stálé jméno je %2."),
        QStringLiteral("Str428=V Nastavení vyberte %1, aby program adaptér našel, i když po novém "
                       "připojení dostane jiné číslo."),
        QStringLiteral(
            "Str430=%1: vlastník %2, skupina %3, %4; smíte z něj číst i do něj zapisovat (%5)."),
        QStringLiteral("Str431=jako root"),
        QStringLiteral("Str432=jako jeho vlastník"),
        QStringLiteral("Str433=jako člen skupiny %1"),
        QStringLiteral("Str434=smí každý"),
        QStringLiteral("Str435=pracovní prostředí to dovoluje uživateli u počítače"),
        QStringLiteral("Str436=%1: vlastník %2, skupina %3, %4. Vy (%5) ho nesmíte otevřít: nejste "
                       "ve skupině %3."),
        QStringLiteral("Str437=Přidejte se do skupiny: sudo usermod -aG %1 %2, pak se odhlaste a "
                       "znovu přihlaste."),
        QStringLiteral("Str438=%1: skupina %2, %3. Vy (%4) jste ve skupině %2, toto přihlášení ji "
                       "ale ještě nemá: přidali jste se do ní až po přihlášení."),
        QStringLiteral("Str439=Odhlaste se a znovu přihlaste, nebo restartujte počítač; nové okno "
                       "terminálu nestačí."),
        QStringLiteral(
            "Str440=%1: vlastník %2, skupina %3, %4; číst a zapisovat nesmí ani jeho skupina."),
        QStringLiteral("Str441=Obraťte se na správce počítače a ukažte mu výstup příkazu ls -l %1. "
                       "USB adaptér dostává tato práva od pravidla udev, když je připojen."),
        QStringLiteral("Str442=%1: vlastník %2, skupina %3, %4. Nesmíte ho otevřít a skupina %3 "
                       "není v /etc/group, takže odsud nelze zjistit, zda se do ní můžete přidat."),
        QStringLiteral("Str450=Žádný jiný program nemá %1 otevřený."),
        QStringLiteral("Str451=Žádný program, který je odsud vidět, nemá %1 otevřený; otevřené "
                       "soubory procesů jiných uživatelů vidět nejsou (procesů: %2)."),
        QStringLiteral("Str452=%1 má otevřený jiný program: %2."),
        QStringLiteral("Str453=Ukončete ten program; Korvalinex pak regulátor najde sám. Pokud ho "
                       "ukončit nejde: kill %1"),
        QStringLiteral("Str454=%1 má otevřený sám Korvalinex (tento program)."),
        QStringLiteral("Str455=%1 (proces %2)"),
        QStringLiteral("Str456=Pokud se regulátor stále nenajde: sudo fuser -v %1 vypíše všechny "
                       "programy, které ho mají otevřený."),
        QStringLiteral("Str460=ModemManager neběží."),
        QStringLiteral("Str461=ModemManager běží (proces %1). Několik sekund po připojení "
                       "sériového adaptéru na něm hledá modem a regulátor mezitím nelze najít."),
        QStringLiteral("Str462=Po připojení počkejte půl minuty. Pokud na tomto počítači "
                       "nepoužíváte modem: sudo systemctl disable --now ModemManager"),
        QStringLiteral("Str464=brltty (ovladač braillských řádků) neběží."),
        QStringLiteral(
            "Str465=brltty (ovladač braillských řádků) neběží a tento adaptér si nebere."),
        QStringLiteral("Str466=Pravidlo brltty %1 si bere zařízení USB %2 (tento adaptér) pro "
                       "braillské řádky: brltty si adaptér vezme, jakmile je připojen."),
        QStringLiteral("Str467=Pokud na tomto počítači nepoužíváte braillský řádek: sudo apt "
                       "remove brltty, pak adaptér znovu připojte."),
        QStringLiteral("Str468=brltty (ovladač braillských řádků) běží (proces %1); sériové USB "
                       "adaptéry si může brát pro braillské řádky."),
        QStringLiteral("Str469=brltty (ovladač braillských řádků) běží (proces %1), tento adaptér "
                       "si ale nebere."),
        QStringLiteral("Str470=Připojené USB adaptéry FTDI: %1."),
        QStringLiteral("Str471=Není připojen žádný USB adaptér FTDI."),
        QStringLiteral(
            "Str472=Zkontrolujte kabel a zásuvku USB: lsusb musí ukázat zařízení s id 0403:6001, "
            "6010, 6011, 6014 nebo 6015; kabel jen pro nabíjení neukáže nic. Sériový USB adaptér "
            "jiného výrobce funguje přes svůj sériový port: vyberte ho v Nastavení."),
        QStringLiteral(
            "Str473=Žádný připojený adaptér FTDI nemá sériové číslo %1; připojeny jsou: %2."),
        QStringLiteral(
            "Str474=Zadejte jedno z připojených sériových čísel, nebo žádné pro první adaptér."),
        QStringLiteral("Str475=Adaptér %1 dovolil přečíst své jméno: smíte ho otevřít."),
        QStringLiteral("Str476=Adaptér %1 nesmíte otevřít (%2)."),
        QStringLiteral("Str477=Odpojte adaptér a znovu ho připojte; pokud to nepomůže, přečtěte "
                       "si, co tato kontrola říká o pravidle udev."),
        QStringLiteral("Str478=Adaptér %1 používá jiný program nebo ovladač (%2)."),
        QStringLiteral("Str479=Ukončete druhý program (často druhý Korvalinex nebo běžící "
                       "korvalinex-cli); okno pak adaptér otevře samo."),
        QStringLiteral("Str480=Adaptér %1 nelze otevřít (%2)."),
        QStringLiteral("Str481=Odpojte ho a znovu připojte, pokud možno do jiné zásuvky USB."),
        QStringLiteral("Str485=Pravidlo udev pro adaptéry FTDI je nainstalováno: %1."),
        QStringLiteral("Str486=Pravidlo udev %1 není nainstalováno (hledáno v %2); adaptér smíte "
                       "otevřít i bez něj."),
        QStringLiteral("Str487=Je nainstalováno jen staré pravidlo udev %1; přichází příliš pozdě, "
                       "aby dalo přístup uživateli u počítače."),
        QStringLiteral("Str488=Pravidlo udev %1 není nainstalováno (hledáno v %2): bez něj smí "
                       "adaptér FTDI otevřít jen root."),
        QStringLiteral("Str489=Nainstalujte balíček, nebo pravidlo zkopírujte: sudo cp %1 "
                       "/etc/udev/rules.d/ && sudo udevadm control --reload-rules; pak adaptér "
                       "odpojte a znovu připojte."),
        QStringLiteral("Str490=Adaptér je připojen od %1, tedy ještě z doby před instalací "
                       "pravidla udev %2 (%3); pravidlo platí až od připojení adaptéru."),
        QStringLiteral("Str491=Odpojte adaptér a znovu ho připojte."),
        QStringLiteral(
            "Str492=Pravidlo udev %1 je nainstalováno, přístup k adaptéru vám ale nedává."),
        QStringLiteral("Str493=Pravidlo dává přístup uživateli, který sedí u počítače, a skupině "
                       "plugdev. Přes ssh nebo vzdálenou plochu: sudo usermod -aG plugdev $USER, "
                       "pak se odhlaste a znovu přihlaste."),
        QStringLiteral("Str495=Jste %1 (číslo uživatele %2); skupiny tohoto přihlášení: %3."),
        QStringLiteral("Str500=%1 se otevřel."),
        QStringLiteral("Str501=%1 nelze otevřít: %2."),
        QStringLiteral("Str502=Na budicí volání regulátor odpověděl (odesláno: %1)."),
        QStringLiteral("Str503=Odeslaná budicí volání: %1; nic se nevrátilo."),
        QStringLiteral("Str504=Zkontrolujte, že má regulátor napájení (připojený akumulátor) a že "
                       "kabel pevně sedí na obou koncích a ve správném konektoru regulátoru."),
        QStringLiteral("Str505=Odeslaná budicí volání: %1; něco se vrátilo, ale žádná odpověď "
                       "regulátoru (bajtů: %2; první: %3)."),
        QStringLiteral(
            "Str506=Odpovídá něco, co není regulátor na 600 Bd: zkontrolujte, že je adaptér "
            "připojen k regulátoru, a ne k jinému zařízení (přijímači, řídicí jednotce)."),
        QStringLiteral("Str507=Regulátor odpověděl: %1, verze %2."),
        QStringLiteral("Str508=Definiční soubor regulátoru %1 existuje."),
        QStringLiteral("Str509=Chybí definiční soubor regulátoru %1: bez něj nelze nastavení "
                       "regulátoru %2 zobrazit."),
        QStringLiteral("Str510=Zkopírujte soubor svého regulátoru do %1 (dodává se s regulátorem, "
                       "nebo zdarma na www.korvalinex.cz)."),
        QStringLiteral(
            "Str511=Zkopírujte soubor svého regulátoru do %1, nebo zvolte jazyk, který ho má: %2."),
        QStringLiteral("Str512=Po spojení zatím nebylo odesláno žádné budicí volání."),
        QStringLiteral("Str514=Spojení zatím nebylo otevřeno."),
        QStringLiteral("Str515=takové zařízení neexistuje"),
        QStringLiteral("Str516=nemáte oprávnění ho otevřít"),
        QStringLiteral("Str517=používá ho jiný program"),
        QStringLiteral("Str518=není to sériový port"),
        QStringLiteral("Str519=Sériový port %1 vybraný v Nastavení nelze otevřít: %2. Kontrola "
                       "připojení v nabídce Soubor řekne proč a co dělat."),
        QStringLiteral("Str520=Ukázku nelze spustit: %1"),
        QStringLiteral(
            "Str521=Použití: korvalinex-cli doctor [LINK...] [--json]\\nZjistí, proč se na spojení "
            "(z setup.ini, nebo na každém zadaném) nenajde regulátor: zda port nebo adaptér "
            "existuje, zda ho smíte otevřít, zda ho drží jiný program, ModemManager, brltty a "
            "pravidlo udev; pak spojení otevře, pošle budicí volání a řekne, zda regulátor "
            "odpověděl a zda existuje jeho definiční soubor. Nic nemění. Návratový kód: 0 žádný "
            "problém, 12 nalezen problém (řádky říkají, co udělat), 2 chybné zadání."),
        QStringLiteral("Str525=Klepnutím sem zkontrolujete připojení"),
        QStringLiteral(
            "Str526=Zpráva je ve schránce; vložte ji do příspěvku na fóru nebo do e-mailu."),
        QStringLiteral("Str527=Regulátor %1 neuchovává záznam EEPROM: není co stáhnout."),
        QStringLiteral(
            "Str560=Zapsáno a ověřeno: regulátor drží odeslané nastavení. Záloha předchozího: %1"),
        QStringLiteral("Str561=%1: odesláno %2, přečteno zpět %3"),
        QStringLiteral("Str562=Bajty bez skupiny"),
        QStringLiteral("Str563=Regulátor neodpovídá, čekám (%1 z %2)"),
        QStringLiteral("Str564=Zápis se neshoduje"),
        QStringLiteral("Str565=Regulátor po zápisu drží jiné nastavení, než bylo odesláno:"),
        QStringLiteral("Str566=Zápis nejistý"),
        QStringLiteral(
            "Str567=Potvrzení zápisu nepřišlo: regulátor nové nastavení možná přijal, možná ne."),
        QStringLiteral("Str568=Nastavení z doby před zápisem je v záloze: %1"),
        QStringLiteral(
            "Str569=Regulátor zápis potvrdil, ale spojení se přerušilo dřív, než ho šlo ověřit."),
        QStringLiteral("Str570=Nezapsané změny (%1) jsou po novém načtení zpět v okně."),
        QStringLiteral("Str571=&Zapsat"),
        QStringLiteral("Str572=Za&hodit"),
        QStringLiteral("Str573=Zrušit"),
        QStringLiteral("Str574=Načtení dat z regulátoru nahradí nezapsané změny v okně (%1). "
                       "Zapsat je nejdřív do regulátoru?"),
        QStringLiteral("Str575=Obnovit tovární nastavení regulátoru %1? Všechna jeho nastavení se "
                       "nahradí továrními; současná se předtím uloží do zálohy."),
        QStringLiteral("Str576=Nezapsané změny v okně (%1) se ztratí."),
        QStringLiteral("Str577=Nezapsané změny (%1) čekají na návrat regulátoru; zavřením okna se "
                       "ztratí. Zavřít přesto?"),
        QStringLiteral(
            "Str578=V okně jsou nezapsané změny (%1). Zapsat je do regulátoru před zavřením?"),
        QStringLiteral("Str579=Regulátor je právě zaneprázdněn; zkuste to za chvíli znovu."),
        QStringLiteral("Str580=Záloha %1 nemá soubor parametrů."),
        QStringLiteral("Str581=Načíst zálohu do okna, až bude regulátor zpět?"),
        // A value loaded from a file; the log download's hint when it kept the previous log, and
        // its error when it could not.
        QStringLiteral("Str530=Hodnota ze souboru %1, ne z regulátoru; platí do příštího čtení."),
        QStringLiteral("Str531=%1, soubor %2, předchozí záznam uschován jako %3"),
        QStringLiteral("Str532=Předchozí záznam EEPROM %1 nelze uschovat: %2. Nic nebylo "
                       "přepsáno ani staženo."),
        // What a screen reader says of a change not yet written and of the item the last read
        // chose (shown in blue), and what it calls the progress bars and the panel.
        QStringLiteral("Str360=nezapsáno"),
        QStringLiteral("Str361=přečteno z regulátoru"),
        QStringLiteral("Str362=Průběh čtení"),
        QStringLiteral("Str363=Průběh zápisu"),
        QStringLiteral("Str364=Panel parametrů"),
        // The settings sheet: its headings and marks, the PDF filter, the tool's sheet and
        // write --only.
        QStringLiteral("Str320=List nastavení"),
        QStringLiteral("Str321=vytvořeno %1"),
        QStringLiteral("Str322=Regulátor"),
        QStringLiteral("Str324=Poslední záloha"),
        QStringLiteral("Str325=žádná"),
        QStringLiteral("Str326=Ze souboru"),
        QStringLiteral("Str327=Plyn a motor"),
        QStringLiteral("Str328=Hodnoty hlášené regulátorem"),
        QStringLiteral("Str329=Skupiny voleb"),
        QStringLiteral("Str330=Nastavení označená „%1“ se liší od toho, co regulátor drží: dosud "
                       "nebyla zapsána."),
        QStringLiteral("Str331=nezapsáno"),
        QStringLiteral("Str332=Dokumenty PDF [*.pdf]|*.pdf"),
        QStringLiteral(
            "Str333=Použití: korvalinex-cli sheet [FILE.zeq|BACKUP] [LINK...] -o OUT [--model "
            "NAME] [--poles N] [--ratio X]\\nZapíše list nastavení, jaký tiskne okno programu: "
            "regulátor, jeho spojení, skupiny voleb, meze plynu, motor, hlášené hodnoty, nezapsané "
            "změny a poslední zálohu. OUT končící .txt nebo - (stdout) je prostý text, .html nebo "
            ".htm HTML, jinak PDF. Bez souboru se načte regulátor; soubor se spojením se načte do "
            "regulátoru jako v okně (co se liší, je označeno jako nezapsané); soubor bez spojení "
            "se popíše sám: záloha (.txt) zná svůj regulátor, soubor nastavení potřebuje --model."),
        QStringLiteral("Str334=--only: „%1“ není skupina voleb regulátoru %2; jeho skupiny: %3"),
        QStringLiteral("Str335=List nastavení je v %1"),
        // write --each: a line per regulator, the count at the end, what to do next.
        QStringLiteral("Str336=%1. %2 %3: %4; záloha: %5"),
        QStringLiteral("Str337=Hotovo: %1, selhalo: %2, nejisté: %3"),
        QStringLiteral("Str338=Čekám na regulátor (Ctrl-C linku ukončí) ..."),
        QStringLiteral("Str339=Odpojte regulátor; další se obslouží, až bude připojen."),
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
