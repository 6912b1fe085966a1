#include "models/modelfile.h"

#include "common/numbers.h"
#include "common/profile.h"

#include <QFileInfo>

namespace {

constexpr ushort kFirstPrintable = 0x20;
constexpr ushort kDelete = 0x7F;

} // namespace

QString ModelFilePath(const QString& programDir, const QString& languageCode,
                      const QString& modelName)
{
    return programDir + QStringLiteral("Regulators/") + languageCode + QLatin1Char('/') +
           modelName + QStringLiteral(".ini");
}

QString ParameterFolder(const QString& programDir, const QString& modelName)
{
    return programDir + QStringLiteral("Data/") + modelName;
}

bool IsSafeModelName(const QString& name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name.contains(QLatin1String("..")))
        return false;
    for (const QChar c : name) {
        const ushort u = c.unicode();
        if (u < kFirstPrintable || u == kDelete || c == QLatin1Char('/') || c == QLatin1Char('\\'))
            return false;
    }
    return true;
}

QString EntryText(const QString& line) { return line.mid(kEntryKeyCut); }

QString DisplayCaption(const QString& text)
{
    // Without a ":" the whole text is the multiplier part, so nothing is left for the caption.
    return text.left(text.indexOf(QLatin1Char(':')) + 1);
}

double TMultiplierTable::Slot(int slot) const
{
    if (slot < 1 || slot > kMultiplierSlots)
        return 0.0;
    return slot_[slot - 1];
}

int TMultiplierTable::Count() const
{
    int n = 0;
    for (const bool d : defined_)
        n += d ? 1 : 0;
    return n;
}

void TMultiplierTable::Derive(int k, const QString& text, bool alternateScale)
{
    if (k < 0 || k >= kMultiplierSlots)
        return;
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    const QString part = colon < 0 ? text : text.mid(colon + 1);
    double value = 0.0;
    bool defined = false;
    if (text.contains(QLatin1Char(';'))) {
        // A ";" only in the caption leaves no first number: that fails like any bad number.
        const qsizetype semi = part.indexOf(QLatin1Char(';'));
        const double first = TextToFloat(semi < 0 ? QString() : part.left(semi));
        const double second = TextToFloat(semi < 0 ? part : part.mid(semi + 1));
        value = alternateScale ? second : first;
        defined = true;
    } else if (!part.isEmpty()) {
        value = TextToFloat(part);
        defined = true;
    }
    slot_[k] = value;
    defined_[k] = defined;
}

bool TModelDefinition::Load(const QString& path)
{
    *this = TModelDefinition();
    if (!QFileInfo(path).isFile())
        return false;
    TProfileFile file(path);
    if (!file.Load())
        return false;
    const QStringList names = file.SectionNames();
    if (names.isEmpty())
        return false;
    sectionNames_ = names;
    // Each section as its key list, every key then read by name: a duplicated key shows its
    // first value twice, as the files have always been read.
    for (const QString& name : names)
        sectionEntries_.append(file.SectionLines(name));
    return true;
}

int TModelDefinition::GroupCount() const
{
    return sectionNames_.isEmpty() ? 0 : int(sectionNames_.size()) - 1;
}

QString TModelDefinition::GroupCaption(int g) const
{
    const QString blanks = QStringLiteral("  ");
    if (g < 0 || g >= GroupCount() || sectionEntries_[g].isEmpty())
        return blanks + blanks;
    return blanks + EntryText(sectionEntries_[g].first()) + blanks;
}

QStringList TModelDefinition::GroupItems(int g) const
{
    QStringList items;
    if (g < 0 || g >= GroupCount())
        return items;
    const QStringList& lines = sectionEntries_[g];
    for (qsizetype i = 1; i < lines.size(); ++i)
        items.append(EntryText(lines[i]));
    return items;
}

QStringList TModelDefinition::DisplayTexts() const
{
    QStringList texts;
    if (sectionEntries_.isEmpty())
        return texts;
    for (const QString& line : sectionEntries_.last())
        texts.append(EntryText(line));
    return texts;
}
