// Model definition files as users download or write them: the panel is built from any file,
// relabelled from a second one, and cleared; nothing of it may be left behind.

#include "fuzzsupport.h"
#include "i18n/msglangres.h"
#include "models/parampanel.h"

#include <QLabel>
#include <QScrollArea>
#include <QWidget>

extern "C" int LLVMFuzzerInitialize(int*, char***) { return FuzzInitialize(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzApplication();
    static QWidget window;
    static QWidget* panel1 = new QWidget(&window);
    static QScrollArea* panel = new QScrollArea(&window);
    static TsmlMsgLangRes messages;
    static TParameterPanel p(
        panel1, panel, messages, [](const QString&) {}, [](const QString&) {});
    panel1->setGeometry(0, 22, 317, 534);
    panel->setGeometry(317, 22, 483, 534);

    FuzzedDataProvider in(data, size);
    const bool alternate = in.ConsumeBool();
    const QByteArray first = Bytes(in.ConsumeRandomLengthString(4096));
    const QByteArray second = Bytes(in.ConsumeRemainingBytesAsString());
    FuzzWrite(QStringLiteral("Regulators/CZ/M.ini"), first);
    FuzzWrite(QStringLiteral("Regulators/EN/M.ini"), second);
    QDir().mkpath(FuzzProgramDir() + QStringLiteral("Data"));

    p.BuildParameterPanel({FuzzProgramDir(), QStringLiteral("CZ"), QStringLiteral("M"), alternate});
    const int groups = p.GroupCount();
    const int displays = p.DisplayCount();
    FUZZ_CHECK(p.MultiplierCount() >= 0 && p.MultiplierCount() <= 3 + displays);
    p.RelabelParameterPanel(
        {FuzzProgramDir(), QStringLiteral("EN"), QStringLiteral("M"), alternate});
    FUZZ_CHECK(p.GroupCount() == groups && p.DisplayCount() == displays);
    p.ClearParameterPanel();
    FUZZ_CHECK(p.GroupCount() == 0 && p.DisplayCount() == 0);
    FUZZ_CHECK(panel1->findChildren<QLabel*>().isEmpty());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
