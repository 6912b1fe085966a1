#pragma once
// Module Kontrola_u: the connection check's window. It runs the check when it opens and again on
// "Zkontrolovat znovu", lists the findings (problems first, each with what to do) and copies the
// whole report as text for a forum post or a request for help. Its captions come from its own
// section of the language file; the findings are message keys put into words by the check.

#include "diagnose/findings.h"

#include <QDialog>
#include <functional>

class QLabel;
class QPushButton;
class QTextBrowser;
class TsmlMsgLangRes;

struct TKontrolaHost {
    QString programDir; // with a trailing "/"
    QString languageCode;
    const TsmlMsgLangRes* messages = nullptr;
    // The check for the window's link: the machine as it is, and what the window's own link has
    // seen so far.
    std::function<QList<TFinding>()> check;
    // Where the report goes; default: the system clipboard.
    std::function<void(const QString& text)> copy;
};

class TKontrola : public QDialog {
    Q_OBJECT
public:
    TKontrola(TKontrolaHost host, QWidget* parent);

    // Runs the check again and shows what it found.
    void Button1Click();
    // Copies the report.
    void Button2Click();

    // The report as it is copied: a heading with the program's version and the time, the
    // findings, and the count of problems.
    QString ReportText() const;
    const QList<TFinding>& Findings() const { return findings_; }

    QLabel* Label1 = nullptr;       // what the window shows
    QLabel* LSouhrn = nullptr;      // how many problems
    QTextBrowser* Nalezy = nullptr; // the findings
    QLabel* LSchranka = nullptr;    // the report is on the clipboard
    QPushButton *Button1 = nullptr, *Button2 = nullptr, *Button3 = nullptr;

protected:
    void changeEvent(QEvent* e) override;

private:
    void Show();

    TKontrolaHost host_;
    QList<TFinding> findings_;
    QString checkedAt_;
};

// The findings as the window lists them: one paragraph each, the verdict first, its colour
// readable on the page.
QString FindingsHtml(const QList<TFinding>& findings, const TsmlMsgLangRes& messages,
                     const QColor& page);
