// The read reply as a regulator may send it, decoded with any model definition file, version text
// and lookup files, and the write payload built back from what the window then shows.

#include "fuzzsupport.h"
#include "i18n/msglangres.h"
#include "models/parampanel.h"
#include "protocol/paramblock.h"

#include <QScrollArea>
#include <QWidget>

namespace {

class Fields final : public IBlockFields {
public:
    double min = 0, max = 0;
    QString version, poles, ratio;
    double ThrottleMin() const override { return min; }
    double ThrottleMax() const override { return max; }
    void SetThrottleMin(double ms) override { min = ms; }
    void SetThrottleMax(double ms) override { max = ms; }
    QString VersionCaption() const override { return version; }
    QString PoleText() const override { return poles; }
    void SetPoleText(const QString& t) override { poles = t; }
    QString RatioText() const override { return ratio; }
    void SetRatioText(const QString& t) override { ratio = t; }
    void EnableMaxRpm() override {}
    void SetMaxRpmText(const QString&) override {}
    void ShowError(const QString&) override {}
};

} // namespace

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
    Fields fields;
    fields.version = QString::fromLatin1(Bytes(in.ConsumeRandomLengthString(6)));
    fields.poles = QString::fromLatin1(Bytes(in.ConsumeRandomLengthString(3)));
    fields.ratio = QString::fromLatin1(Bytes(in.ConsumeRandomLengthString(5)));
    FuzzWrite(QStringLiteral("Teplota1.txt"), Bytes(in.ConsumeRandomLengthString(200)));
    FuzzWrite(QStringLiteral("Teplota2.txt"), Bytes(in.ConsumeRandomLengthString(200)));
    FuzzWrite(QStringLiteral("Regulators/CZ/M.ini"), Bytes(in.ConsumeRandomLengthString(2048)));
    QDir().mkpath(FuzzProgramDir() + QStringLiteral("Data"));
    const QByteArray payload = Bytes(in.ConsumeRemainingBytesAsString());

    p.BuildParameterPanel({FuzzProgramDir(), QStringLiteral("CZ"), QStringLiteral("M"), false});
    if (!p.ModelFileMissing()) {
        DecodeReadReply(payload, fields, p, {FuzzProgramDir(), &messages});
        const QByteArray write = BuildWritePayload(fields, p);
        FUZZ_CHECK(write.size() >= 4);
    }
    p.ClearParameterPanel();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
