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
    // Lines that fit the panel (some settings taken from a file), loaded as a file's are.
    std::function<void(const QStringList& lines)> loadParameterLines;
    std::function<void(const QString& text)> showError; // the box with the "str2" caption
};

class TPorovnani : public QDialog {
    Q_OBJECT
public:
    // fileLines: the file as read; rows come from the panel as it stands now.
    TPorovnani(TCompareHost host, QString fileName, QStringList fileLines, QWidget* parent);

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
    QList<int> CheckedGroups() const;

    TCompareHost host_;
    QString fileName_;
    QStringList fileLines_;
    QList<TCompareRow> rows_;
};

// Reads the file and shows its comparison; a file that cannot be read gets the error box instead.
// True when the user loaded the file from the window.
bool ShowComparison(const TCompareHost& host, const QString& fileName, QWidget* parent);

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
