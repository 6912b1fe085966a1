#pragma once
// Module Porovnani_u: a parameter file set against the panel, and the list of the regulator's
// backups. Both windows are modal and built anew for each showing: presence queries wait while one
// is up, so the panel they show cannot change under them, and each showing speaks the current
// language (its captions from its own section of the language file, its other texts message keys).
// Loading goes through the main window's own entry, so a load from here is the same as one through
// "Otevřít ...".

#include "models/backup.h"
#include "models/paramcompare.h"

#include <QDialog>
#include <functional>

class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class TPanelModel;
class TsmlMsgLangRes;

// What the two windows read and call in the main window.
struct TCompareHost {
    QString programDir; // with a trailing "/"
    QString languageCode;
    const TPanelModel* panel = nullptr;
    const TsmlMsgLangRes* messages = nullptr;
    std::function<void(const QString& fileName)> loadParameterFile;
    // Some settings taken from a file: lines that fit the panel, loaded as a file's are, and the
    // throttle limits when one of them was taken.
    std::function<void(const TFileSettings& settings)> loadSettings;
    std::function<void(const QString& text)> showError; // the box with the "str2" caption
    // A backup put back whole: its settings, throttle limits included.
    std::function<void(const TBackupEntry& backup)> loadBackup;
};

class TPorovnani : public QDialog {
    Q_OBJECT
public:
    // fileLines: the file as read; rows come from the panel as it stands now.
    TPorovnani(TCompareHost host, QString fileName, QStringList fileLines, QWidget* parent);
    // The same for a file that holds more than a parameter file (a backup): its throttle limits
    // are rows too, and loadWhole is what "Načíst do okna" does.
    TPorovnani(TCompareHost host, QString fileName, TFileSettings file,
               std::function<void()> loadWhole, QWidget* parent);

    // Loads the file into the panel and closes the window.
    void Button1Click();
    // Loads only the settings whose rows are checked and closes the window.
    void Button3Click();

    const QList<TCompareRow>& Rows() const { return rows_; }
    // The row of each setting that differs, checked to be taken by "Načíst vybrané"; nullptr for
    // the others.
    QTreeWidgetItem* Checkable(int row) const;

    QLabel* LSoubor = nullptr;   // which file
    QLabel* LNepasuje = nullptr; // what does not fit; hidden when the file fits
    QTreeWidget* LV = nullptr;
    QLabel* LPocet = nullptr; // how many settings differ
    // Button3 "Načíst vybrané", usable while a row is checked.
    QPushButton *Button1 = nullptr, *Button2 = nullptr, *Button3 = nullptr;

private:
    QList<TCompareRow> CheckedRows() const;

    TCompareHost host_;
    QString fileName_;
    TFileSettings file_;
    std::function<void()> loadWhole_;
    QList<TCompareRow> rows_;
};

// Reads the file and shows its comparison; a file that cannot be read gets the error box instead.
// True when the user loaded the file from the window.
bool ShowComparison(const TCompareHost& host, const QString& fileName, QWidget* parent);
// A backup's comparison: its parameter file and the throttle limits of its record.
bool ShowComparison(const TCompareHost& host, const TBackupEntry& backup, QWidget* parent);

class TZalohy : public QDialog {
    Q_OBJECT
public:
    // Lists the model's backups, newest first, the newest selected.
    TZalohy(TCompareHost host, QString modelName, QWidget* parent);

    // The selected backup: compared (a load from the comparison closes this window too), loaded.
    void Button1Click();
    void Button2Click();

    const QList<TBackupEntry>& Entries() const { return entries_; }
    // The entry of the selected row; nullptr when none is selected.
    const TBackupEntry* Selected() const;

    QLabel* LModel = nullptr;   // whose backups, and where
    QLabel* LVynech = nullptr;  // how many records could not be read; hidden when none
    QTreeWidget* LV = nullptr;  // empty: LPrazdne says there are none
    QLabel* LPrazdne = nullptr; // hidden while the list has rows
    QPushButton *Button1 = nullptr, *Button2 = nullptr, *Button3 = nullptr;

private:
    void SelectionChanged();

    TCompareHost host_;
    QList<TBackupEntry> entries_;
};
