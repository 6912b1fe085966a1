#pragma once
// Model definition files: one profile file per regulator model and UI language, beside the program
// under Regulators/<language>/<model>.ini. Every section but the last describes one option group
// (first entry the title, the others the items); the last section holds the display entries
// ("caption:" with an optional multiplier part "x" or "x;y"). Widget-free: the parameter panel
// builds its controls from what this reads.

#include <QList>
#include <QString>
#include <QStringList>
#include <array>

// Keys are four characters; the entry text starts after key and "=". Keys are not interpreted, so
// a key of another length shifts the text by as much.
inline constexpr int kEntryKeyCut = 5;
// Only the first three display entries can carry a multiplier.
inline constexpr int kMultiplierSlots = 3;

// programDir ends with "/".
QString ModelFilePath(const QString& programDir, const QString& languageCode,
                      const QString& modelName);
QString ParameterFolder(const QString& programDir, const QString& modelName);

// The model name comes from the regulator and becomes a file and a folder name: a name that could
// reach outside Regulators/<language> or Data (empty, ".", path separators, "..", control
// characters) is refused.
bool IsSafeModelName(const QString& name);

// An entry line "key=value" without its key: the first five characters go.
QString EntryText(const QString& line);
// The caption of a display entry text: cut after its first ":", which stays; empty without ":".
QString DisplayCaption(const QString& text);

// Multipliers of display entries 1 to 3; 0 in a slot means a lookup entry.
class TMultiplierTable {
public:
    // slot 1..3; 0 outside.
    double Slot(int slot) const;
    // Display entries whose definition gives a multiplier, a 0 included.
    int Count() const;
    void Clear() { *this = TMultiplierTable(); }

    // Derives the slot of display entry k (from 0) from its entry text. A multiplier part on an
    // entry after the third has no slot and is ignored: the entry is a lookup entry. Throws
    // EConvertError for a multiplier part that is not a number (the table is then unchanged).
    void Derive(int k, const QString& text, bool alternateScale);

private:
    std::array<double, kMultiplierSlots> slot_{};
    std::array<bool, kMultiplierSlots> defined_{};
};

class TModelDefinition {
public:
    // Reads the file. False when it does not exist, cannot be read or holds no section: such a file
    // is treated as a missing one, and the definition is left empty.
    bool Load(const QString& path);
    bool IsEmpty() const { return sectionNames_.isEmpty(); }

    // Section names and their key=value lines, in file order.
    const QStringList& SectionNames() const { return sectionNames_; }
    const QList<QStringList>& SectionEntries() const { return sectionEntries_; }

    // Option groups: sections 1 to N-1.
    int GroupCount() const;
    // Two blanks, the title, two blanks.
    QString GroupCaption(int g) const;
    QStringList GroupItems(int g) const;
    // Display entries: the last section's entries without their keys.
    QStringList DisplayTexts() const;

private:
    QStringList sectionNames_;
    QList<QStringList> sectionEntries_;
};
