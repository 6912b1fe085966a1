#pragma once
// Parameter files (*.zeq): what the parameter panel shows for one regulator, as text lines. The
// value texts of the display entries, the marker "Data", then the chosen item of each option group.
// Written in Windows-1250 with CR LF after every line, so files stay exchangeable with those made
// on the regulator's old platform. Widget-free: the panel is reached through IParameterPanel.

#include "protocol/panel.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

class TsmlMsgLangRes;

inline const QString kParamFileMarker = QStringLiteral("Data");
inline const QString kParamFileExtension = QStringLiteral("zeq");
inline const QString kParamFileProposedName = QStringLiteral("Noname.zeq");
// The save dialog's filter is fixed; the open dialog's comes from message "str84".
inline const QString kParamFileSaveFilter = QStringLiteral("ZEQ Files [*.zeq]|*.zeq");
// A real file holds a few dozen short lines: a larger one is refused like one that cannot be
// opened.
constexpr qint64 kParameterFileMaxBytes = 4 * 1024 * 1024;

// A file can be loaded or saved only while a panel stands: after an identification whose model
// definition file is missing there are no entries and no groups to work on.
bool ParameterPanelExists(const IParameterPanel& panel);

// A group line: decimal, an optional sign, blanks around it allowed as the old loader allowed
// them in front.
bool ParseItemIndex(const QString& line, int& v);

// The lines of the file for the panel as it stands, and their bytes on disk.
QStringList ParameterFileLines(const IParameterPanel& panel);
QByteArray EncodeParameterFile(const QStringList& lines);
// Lines end at CR, LF or CR LF; a NUL ends the text. A final line end makes no empty line.
QStringList DecodeParameterFile(const QByteArray& bytes);

// Load and save with their error boxes: each failure is reported through showError (a box with the
// caption "str2") with texts looked up in messages, and the operations return nothing.
class TParameterFiles {
public:
    using ShowErrorFn = std::function<void(const QString&)>;
    TParameterFiles(IParameterPanel& panel, const TsmlMsgLangRes& messages, ShowErrorFn showError)
        : panel_(panel), messages_(messages), showError_(std::move(showError))
    {
    }

    // Given the file's lines before anything changes; false leaves the panel as it was.
    using AcceptFn = std::function<bool(const QStringList& lines)>;
    // Fills the panel from the file, all or nothing: a file that cannot be opened, that is no
    // parameter file (no "Data" line), whose lines cannot all be used, or that accept refuses (it
    // is asked only about a file that can be loaded) leaves the panel as it was. The values are
    // then shown as the file's. True when the file was loaded.
    bool LoadParameterFile(const QString& fileName, const AcceptFn& accept = {});
    // The same for lines already read, with the same error boxes. valuesFrom names the file the
    // value texts come from; empty, they are the panel's own (as TakeGroups keeps them).
    bool LoadParameterLines(const QStringList& lines, const QString& valuesFrom = {});
    // Replaces the file atomically: a failed save leaves the previous file whole. The overwrite
    // question is the caller's.
    void SaveParameterFile(const QString& fileName);

private:
    // Why the lines cannot be loaded, as the error box says it; empty when they can.
    QString Problem(const QStringList& lines) const;
    void Refuse(const QString& reason) const;

    IParameterPanel& panel_;
    const TsmlMsgLangRes& messages_;
    ShowErrorFn showError_;
};
