#include "shell/filedialogs.h"

#include <QAbstractItemView>
#include <QFileDialog>
#include <QFileInfo>
#include <QSplitter>
#include <QStringList>

#include <algorithm>

QString QtFileFilter(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        filters.append(parts[i] + QStringLiteral(" (") + patterns + QLatin1Char(')'));
    }
    // A lone description without a pattern is still shown, matching everything.
    if (parts.size() % 2 == 1 && !parts.back().isEmpty())
        filters.append(parts.back() + QStringLiteral(" (*)"));
    return filters.join(QStringLiteral(";;"));
}

QString PlainSuffix(const QString& defaultExt)
{
    QString s = defaultExt;
    while (s.startsWith(QLatin1Char('*')) || s.startsWith(QLatin1Char('.')))
        s.remove(0, 1);
    return s;
}

namespace {

// Room beside the longest name for the list's icon margin and a scroll bar's edge.
constexpr int kSidebarSlack = 12;

// Qt's dialog starts its list of places narrower than their names ("Počítač", "Computer"); the
// list gets the width its longest name needs. Without those parts the dialog stays as Qt makes it.
void WidenSidebar(QFileDialog& dlg)
{
    auto* sidebar = dlg.findChild<QAbstractItemView*>(QStringLiteral("sidebar"));
    auto* splitter = dlg.findChild<QSplitter*>(QStringLiteral("splitter"));
    if (!sidebar || !splitter || splitter->count() != 2)
        return;
    const int side = sidebar->sizeHintForColumn(0) + 2 * sidebar->frameWidth() + kSidebarSlack;
    const QList<int> sizes = splitter->sizes();
    splitter->setSizes({side, std::max(sizes.value(0) + sizes.value(1) - side, side)});
}

QString Run(QWidget* parent, const TFileDialogRequest& r, QFileDialog::AcceptMode mode)
{
    QFileDialog dlg(parent);
    dlg.setAcceptMode(mode);
    dlg.setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile
                                                    : QFileDialog::ExistingFile);
    // The overwrite question is the program's own, with its own texts and answers.
    dlg.setOption(QFileDialog::DontConfirmOverwrite, true);
    // Qt's own dialog speaks the language chosen with the flags; the desktop's would speak the
    // desktop's.
    dlg.setOption(QFileDialog::DontUseNativeDialog, true);
    // The descriptions name their patterns ("... [*.zeq]"): Qt's "(*.zeq)" would say it twice.
    dlg.setOption(QFileDialog::HideNameFilterDetails, true);
    dlg.setNameFilter(QtFileFilter(r.filter));
    dlg.setDefaultSuffix(PlainSuffix(r.defaultExt));
    if (!r.initialDir.isEmpty())
        dlg.setDirectory(r.initialDir);
    if (!r.fileName.isEmpty()) {
        const QFileInfo proposed(r.fileName);
        if (proposed.isAbsolute())
            dlg.setDirectory(proposed.absolutePath());
        dlg.selectFile(proposed.fileName());
    }
    WidenSidebar(dlg);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return {};
    return dlg.selectedFiles().constFirst();
}

} // namespace

QString TQtFileDialogs::OpenDlg(const TFileDialogRequest& request)
{
    return Run(parent_, request, QFileDialog::AcceptOpen);
}

QString TQtFileDialogs::SaveDlg(const TFileDialogRequest& request)
{
    return Run(parent_, request, QFileDialog::AcceptSave);
}
