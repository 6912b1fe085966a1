// Backup records as `restore` reads them back: the user may have copied, edited or damaged one. Any
// bytes either load or are refused with a reason; a record that loads holds a write payload that
// follows from its read payload, and written out again it loads back the same.

#include "fuzzsupport.h"
#include "models/backup.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return FuzzInitialize(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzWrite(QStringLiteral("record.txt"),
              QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    QString error;
    const std::optional<TBackupRecord> record =
        LoadBackupRecord(FuzzProgramDir() + QStringLiteral("record.txt"), &error);
    if (!record) {
        FUZZ_CHECK(!error.isEmpty());
        return 0;
    }
    const std::optional<TBlockImage> image =
        ImageFromReadPayload(record->readPayload, record->layout);
    FUZZ_CHECK(image && image->WritePayload() == record->writePayload);

    FuzzWrite(QStringLiteral("again.txt"), EncodeBackupRecord(*record));
    const std::optional<TBackupRecord> again =
        LoadBackupRecord(FuzzProgramDir() + QStringLiteral("again.txt"), &error);
    FUZZ_CHECK(again);
    FUZZ_CHECK(again->kind == record->kind);
    FUZZ_CHECK(again->identity.flags == record->identity.flags);
    FUZZ_CHECK(again->layout.displayCount == record->layout.displayCount);
    FUZZ_CHECK(again->layout.itemCounts == record->layout.itemCounts);
    FUZZ_CHECK(again->readPayload == record->readPayload);
    FUZZ_CHECK(again->writePayload == record->writePayload);
    return 0;
}
