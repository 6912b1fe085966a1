// Language files applied to the three real windows (the main window, the settings dialog and the
// About box), offscreen. The windows are made once; each input rewrites the German language file
// and the language is selected again, the dialog and the box are activated. A second application
// of the same file must change no text: what the first one wrote back into the file (the texts the
// file lacked) must read back as the texts in force.

#include "common/clock.h"
#include "fuzzsupport.h"
#include "i18n/formlangres.h"
#include "i18n/menulangres.h"
#include "i18n/msglangres.h"
#include "shell/about.h"
#include "shell/mainform.h"
#include "shell/nastaveni.h"
#include "tests/support/recorders.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QMap>
#include <memory>

namespace {

struct Windows {
    VirtualClock clock;
    TRecordingBoxes boxes;
    TCountingNoUsb usb;
    TScriptedDialogs dialogs;
    std::unique_ptr<TMainForm> form;
    std::unique_ptr<TAbout> about;

    Windows()
    {
        FuzzApplication();
        FuzzWrite(QStringLiteral("setup.ini"), "[SETUP]\r\nLANGUAGE=GE\r\n");
        TMainFormEnv env;
        env.programDir = FuzzProgramDir();
        env.clock = &clock;
        env.boxes = &boxes;
        env.usb = &usb;
        env.dialogs = &dialogs;
        form = std::make_unique<TMainForm>(env);
        about = std::make_unique<TAbout>(QStringLiteral("GE"), FuzzProgramDir(), form.get());
    }
    void Apply()
    {
        form->Image2Click(form->Image4);
        for (QWidget* w :
             {static_cast<QWidget*>(form->Nastaveni()), static_cast<QWidget*>(about.get())}) {
            QEvent e(QEvent::WindowActivate);
            QCoreApplication::sendEvent(w, &e);
        }
    }
    QMap<QString, QString> Texts()
    {
        QMap<QString, QString> texts;
        for (auto* res : form->findChildren<TsmlFormLangRes*>())
            for (const auto& t : res->Texts())
                texts.insert(res->Section() + '/' + t.first, t.second);
        for (auto* res : form->Nastaveni()->findChildren<TsmlFormLangRes*>())
            for (const auto& t : res->Texts())
                texts.insert(res->Section() + '/' + t.first, t.second);
        for (auto* res : about->findChildren<TsmlFormLangRes*>())
            for (const auto& t : res->Texts())
                texts.insert(res->Section() + '/' + t.first, t.second);
        for (const auto& t : form->MenuLangRes().Texts())
            texts.insert("menu/" + t.first, t.second);
        for (const QString& line : form->Messages().MsgList())
            texts.insert("msg/" + line.section('=', 0, 0), line.section('=', 1));
        return texts;
    }
};

} // namespace

Windows* windows = nullptr;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzInitialize();
    windows = new Windows;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzWrite(QStringLiteral("Languages/GE.ini"),
              QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    windows->Apply();
    const QMap<QString, QString> first = windows->Texts();
    windows->Apply();
    FUZZ_CHECK(windows->Texts() == first);
    return 0;
}
