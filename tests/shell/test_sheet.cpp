// The settings sheet from the window: "Uložit jako PDF ..." and "Tisk ..." put on paper what the
// window shows, row for row in the window's order and language, with the settings not yet written
// marked. The PDF is read back as text with pdftotext, as a person would read the page.

#include "tests/support/cyclefixture.h"
#include "tests/support/process.h"

#include "i18n/languages.h"
#include "shell/numedit.h"

#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QPrinter>
#include <QRadioButton>
#include <gtest/gtest.h>

namespace {

struct TRow {
    QString caption, value;
    bool unwritten = false;
};

QString Caption(const QString& label)
{
    QString c = label.trimmed();
    if (c.startsWith(kUnwrittenTitlePrefix.trimmed()))
        c = c.mid(kUnwrittenTitlePrefix.trimmed().size()).trimmed();
    if (c.endsWith(':'))
        c.chop(1);
    return c.trimmed();
}

struct TSheetWindow : TCycleFixture {
    QDateTime now{QDate(2025, 3, 14), QTime(9, 26, 53)};
    QString printedTo; // the file "Tisk ..." sends the printer's pages to

    TMainForm& ConnectWithPrinter()
    {
        TMainFormEnv env = Env();
        env.com = &port;
        env.dialogs = &dialogs;
        env.now = [this] { return now; };
        env.choosePrinter = [this](QPrinter& printer) {
            if (printedTo.isEmpty())
                return false;
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(printedTo);
            return true;
        };
        return StartWith(env);
    }
    QString Folder() const { return dir.File(QStringLiteral("Data/KVX-40 OPTO")); }

    // Every row of the panel as the window shows it, top to bottom, then the option groups.
    QList<TRow> WindowRows() const
    {
        const TMainForm& f = *form;
        QList<TRow> rows = {
            {Caption(f.Ln->text()), f.LnH->text()},
            {Caption(f.Lv->text()), f.LvH->text()},
            {Caption(f.La->text()), f.LaH->text()},
            {Caption(f.Lkorekcemin->text()), f.LKorekceA->text(), f.LKorekceAMark->isVisibleTo(&f)},
            {Caption(f.Lkorekcemax->text()), f.LKorekceB->text(), f.LKorekceBMark->isVisibleTo(&f)},
            {Caption(f.LPocPolu->text()), f.EPocPolu->text()},
            {Caption(f.LPrevPom->text()), f.Label4->text().trimmed() + f.EPrevPom->text()},
            {Caption(f.Lm->text()), f.LmH->text()}};
        TParameterPanel& panel = form->ParamPanel();
        for (int k = 0; k < panel.DisplayCount(); ++k)
            rows.append({Caption(panel.CaptionLabel(k)->text()), panel.ValueLabel(k)->text()});
        for (int g = 0; g < panel.GroupCount(); ++g) {
            QString chosen = "-";
            for (int i = 0; i < panel.ItemCount(g); ++i)
                if (panel.ItemButton(g, i)->isChecked())
                    chosen = panel.ItemButton(g, i)->text();
            rows.append({Caption(panel.Group(g)->title()), chosen,
                         panel.UnwrittenBar(g)->isVisibleTo(panel.Group(g))});
        }
        return rows;
    }
};

// The text of a PDF as pdftotext lays it out, one line of the page a line; a ligature ("ﬁ", "ﬀ")
// as the letters it joins.
QStringList PdfLines(const QString& pdf)
{
    const TRunResult r = RunProgram("pdftotext", {"-layout", pdf, "-"});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    return r.out.normalized(QString::NormalizationForm_KC).split('\n');
}

// Each row on a line of its own, caption before value, in the order given; the mark beside exactly
// the unwritten ones.
void ExpectRowsInOrder(const QStringList& lines, const QList<TRow>& rows, const QString& mark)
{
    qsizetype at = 0;
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.caption.toStdString() + " = " + row.value.toStdString());
        qsizetype found = -1;
        for (qsizetype i = at; i < lines.size() && found < 0; ++i) {
            const QString line = lines[i].simplified();
            const qsizetype c = line.indexOf(row.caption.simplified());
            if (c >= 0 && line.indexOf(row.value.simplified(), c + row.caption.size()) > c)
                found = i;
        }
        ASSERT_GE(found, 0) << "not after line " << at << ":\n"
                            << lines.mid(at).join('\n').toStdString();
        EXPECT_EQ(lines[found].contains(mark), row.unwritten) << lines[found].toStdString();
        at = found + 1;
    }
}

TEST(SettingsSheet, ThePdfSaysWhatTheWindowShowsInEachLanguage)
{
    TSheetWindow fx;
    TMainForm& f = fx.ConnectWithPrinter();
    ASSERT_TRUE(fx.RunUntilIdle());
    for (const TLanguage& language : kLanguages) {
        fx.dir.Write(language.languageFile,
                     SourceFile(QStringLiteral("data/") + language.languageFile));
        fx.dir.Write(
            QStringLiteral("Regulators/%1/KVX-40 OPTO.ini").arg(language.code),
            SourceFile(QStringLiteral("data/Regulators/%1/KVX-40 OPTO.ini").arg(language.code)));
    }
    // Two settings the regulator does not hold yet, and one changed and put back.
    fx.Panel().ItemButton(1, 3)->click();
    f.UpBClick();
    fx.Panel().ItemButton(4, 2)->click();
    fx.Panel().ItemButton(4, fx.Panel().Model().Group(4)->blueItem)->click();

    const struct {
        QLabel* TMainForm::*flag;
        const char* mark;
    } languages[] = {{&TMainForm::Image2, "nezapsáno"},
                     {&TMainForm::Image3, "not written"},
                     {&TMainForm::Image4, "nicht geschrieben"}};
    for (const auto& l : languages) {
        f.Image2Click(f.*l.flag);
        SCOPED_TRACE(fx.form->Settings().language.toStdString());
        const QString pdf = fx.Folder() + "/sheet-" + fx.form->Settings().language + ".pdf";
        fx.dialogs.answers = {pdf};
        ASSERT_TRUE(f.UlozitPdf->isEnabled());
        f.UlozitPdf->trigger();
        ASSERT_TRUE(fx.boxes.boxes.isEmpty()) << fx.boxes.boxes[0].text.toStdString();
        ASSERT_EQ(fx.dialogs.requests.size(), 1);
        EXPECT_EQ(fx.dialogs.requests[0].fileName, fx.Folder() + "/KVX-40 OPTO_2025-03-14.pdf");
        fx.dialogs.requests.clear();

        const QList<TRow> rows = fx.WindowRows();
        ASSERT_EQ(rows.size(), 8 + 3 + 6);
        const QString mark = QString::fromUtf8(l.mark);
        EXPECT_EQ(
            std::count_if(rows.begin(), rows.end(), [](const TRow& r) { return r.unwritten; }), 2);
        const QStringList lines = PdfLines(pdf);
        ExpectRowsInOrder(lines, rows, mark);
        EXPECT_TRUE(lines.join('\n').contains(f.Messages().LookupMessage("str260").arg(2)));
        EXPECT_TRUE(lines.join('\n').contains("Korvalinex " KX_VERSION)) << "the program";
    }

    // Printed, the same pages; a cancelled print dialog prints nothing.
    fx.printedTo = fx.Folder() + "/printed.pdf";
    f.Tisk->trigger();
    ExpectRowsInOrder(PdfLines(fx.printedTo), fx.WindowRows(), "nicht geschrieben");
    ASSERT_TRUE(QFile::remove(fx.printedTo));
    fx.printedTo.clear();
    f.Tisk->trigger();
    EXPECT_FALSE(QFile::exists(fx.Folder() + "/printed.pdf"));
    EXPECT_TRUE(fx.Cycle().PresenceTimer().Enabled()) << "presence checks run again";
}

} // namespace
