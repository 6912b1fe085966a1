// The read reply as a regulator may send it, decoded with any model definition file, version text
// and lookup files, and the write payload built back from what the window then shows.

#include "fuzzsupport.h"
#include "i18n/msglangres.h"
#include "models/parampanel.h"
#include "protocol/paramblock.h"

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

    FuzzedDataProvider in(data, size);
    TBlockFields fields;
    const QString version = QString::fromLatin1(Bytes(in.ConsumeRandomLengthString(6)));
    fields.poles = QString::fromLatin1(Bytes(in.ConsumeRandomLengthString(3)));
    fields.ratio = QString::fromLatin1(Bytes(in.ConsumeRandomLengthString(5)));
    FuzzWrite(QStringLiteral("Teplota1.txt"), Bytes(in.ConsumeRandomLengthString(200)));
    FuzzWrite(QStringLiteral("Teplota2.txt"), Bytes(in.ConsumeRandomLengthString(200)));
    FuzzWrite(QStringLiteral("Regulators/CZ/M.ini"), Bytes(in.ConsumeRandomLengthString(2048)));
    QDir().mkpath(FuzzProgramDir() + QStringLiteral("Data"));
    const QByteArray payload = Bytes(in.ConsumeRemainingBytesAsString());

    p.BuildParameterPanel({FuzzProgramDir(), QStringLiteral("CZ"), QStringLiteral("M"), false});
    if (!p.ModelFileMissing()) {
        fields = DecodeReadReply(payload, version, fields, p, {FuzzProgramDir(), &messages}).fields;
        const QByteArray write = BuildWritePayload(fields, p);
        FUZZ_CHECK(write.size() >= 4);
    }
    p.ClearParameterPanel();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
