#include "shell/kontrola.h"
#include "shell/mainform_parts.h"

#include "diagnose/checks.h"
#include "i18n/formlangres.h"
#include "i18n/formlanguage.h"
#include "i18n/msglangres.h"
#include "look/contrast.h"
#include "look/windowlook.h"

#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

using MainFormParts::PixelFont;

namespace {

const QColor kBackground(0xE8, 0xE8, 0xE8);
constexpr int kDefaultFontPixels = 11;
constexpr int kFindingsFontPixels = 13; // read whole, not glanced at
constexpr int kMargin = 8;
// Within a 1366 x 768 screen with room for the desktop's panels and the title bar.
constexpr QSize kSize(640, 480);

// The verdict's mark and colour, the colour made as light or dark as the page needs.
struct TMark {
    const char* symbol;
    QColor colour;
    const char* key;
};
TMark Mark(TVerdict v)
{
    switch (v) {
    case TVerdict::Problem:
        return {"\u2716", QColor(0xB0, 0x00, 0x00), "Str401"};
    case TVerdict::CannotTell:
        return {"?", QColor(0x8A, 0x4B, 0x00), "Str402"};
    case TVerdict::Fine:
        break;
    }
    return {"\u2714", QColor(0x1B, 0x6E, 0x1B), "Str400"};
}

} // namespace

QString FindingsHtml(const QList<TFinding>& findings, const TsmlMsgLangRes& messages,
                     const QColor& page)
{
    QString html;
    for (const TFinding& f : ProblemsFirst(findings)) {
        const TMark mark = Mark(f.verdict);
        html += QStringLiteral("<p><span style=\"color:%1\"><b>%2 %3</b></span> %4")
                    .arg(Readable(mark.colour, page).name(), QString::fromUtf8(mark.symbol),
                         messages.LookupMessage(QLatin1String(mark.key)).toHtmlEscaped(),
                         f.seen.toHtmlEscaped());
        if (!f.todo.isEmpty())
            html += QStringLiteral("<br><i>%1</i> %2")
                        .arg(messages.LookupMessage(QStringLiteral("Str403")).toHtmlEscaped(),
                             f.todo.toHtmlEscaped());
        html += QStringLiteral("</p>");
    }
    return html;
}

TKontrola::TKontrola(TKontrolaHost host, QWidget* parent) : QDialog(parent), host_(std::move(host))
{
    setObjectName(QStringLiteral("Kontrola"));
    setWindowTitle(QStringLiteral("Kontrola připojení"));
    setFont(PixelFont(kDefaultFontPixels, false));
    setModal(true);
    resize(kSize);
    DressWindow(this, {kBackground, {}, TWindowLook::Place::CentreOnParent});

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    Label1 = new QLabel(
        QStringLiteral("Co program zjistil o spojení s regulátorem; problémy jsou uvedeny první."),
        this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setWordWrap(true);
    layout->addWidget(Label1);
    LSouhrn = new QLabel(this);
    LSouhrn->setObjectName(QStringLiteral("LSouhrn"));
    LSouhrn->setFont(PixelFont(kFindingsFontPixels, true));
    layout->addWidget(LSouhrn);
    Nalezy = new QTextBrowser(this);
    Nalezy->setObjectName(QStringLiteral("Nalezy"));
    Nalezy->setFont(PixelFont(kFindingsFontPixels, false));
    Nalezy->setOpenLinks(false);
    layout->addWidget(Nalezy, 1);
    LSchranka = new QLabel(this);
    LSchranka->setObjectName(QStringLiteral("LSchranka"));
    LSchranka->setWordWrap(true);
    LSchranka->hide();
    layout->addWidget(LSchranka);

    auto* buttons = new QHBoxLayout;
    const auto add = [this, buttons](const char* name, const QString& caption) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        buttons->addWidget(b);
        return b;
    };
    Button1 = add("Button1", QStringLiteral("Zkontrolovat znovu"));
    Button2 = add("Button2", QStringLiteral("Kopírovat zprávu"));
    buttons->addStretch(1);
    Button3 = add("Button3", QStringLiteral("Zavřít"));
    Button3->setDefault(true);
    layout->addLayout(buttons);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(Button3, &QPushButton::clicked, this, &QDialog::reject);

    const QString code = host_.languageCode;
    TsmlFormLangRes* res = AttachFormLanguage(this, host_.programDir, [code] { return code; },
                                              {QStringLiteral("Caption")});
    res->SetIgnoreControls({QStringLiteral("LSouhrn"), QStringLiteral("LSchranka")});
    ApplyCurrentLanguage(this, code);
    // A screen reader names the list by what it holds.
    Nalezy->setAccessibleName(windowTitle());
    Button1Click();
}

void TKontrola::Button1Click()
{
    findings_ = host_.check ? host_.check() : QList<TFinding>();
    checkedAt_ = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    LSchranka->hide();
    Show();
}

void TKontrola::Show()
{
    const int problems = ProblemCount(findings_);
    LSouhrn->setText(problems > 0 ? host_.messages->Msg("Str405").arg(problems)
                                  : host_.messages->Msg("Str406"));
    Nalezy->setHtml(
        FindingsHtml(findings_, *host_.messages, Nalezy->palette().color(QPalette::Base)));
}

QString TKontrola::ReportText() const
{
    const int problems = ProblemCount(findings_);
    return FillMessage(*host_.messages, QStringLiteral("Str404"),
                       {QStringLiteral(KX_VERSION), checkedAt_}) +
           QStringLiteral("\n\n") + FindingsText(findings_, *host_.messages) +
           QStringLiteral("\n\n") +
           (problems > 0 ? host_.messages->Msg("Str405").arg(problems)
                         : host_.messages->Msg("Str406")) +
           QLatin1Char('\n');
}

void TKontrola::changeEvent(QEvent* e)
{
    QDialog::changeEvent(e);
    // The verdicts' colours follow the page when the desktop's colours change.
    if (e->type() == QEvent::PaletteChange && Nalezy)
        Show();
}

void TKontrola::Button2Click()
{
    const QString text = ReportText();
    if (host_.copy)
        host_.copy(text);
    else
        QApplication::clipboard()->setText(text);
    LSchranka->setText(host_.messages->Msg("Str526"));
    LSchranka->show();
}
