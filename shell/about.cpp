#include "shell/about.h"

#include "i18n/formlanguage.h"
#include "i18n/languages.h"
#include "look/windowlook.h"
#include "shell/pictures.h"

#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

namespace {

constexpr char kBasePixels[] = "basePixels";
constexpr int kSideMargin = 12;
constexpr int kSmallestPixels = 8;
const QColor kLineRed(204, 0, 0);

QLabel* Line(QWidget* parent, const char* name, const QString& text, int pixels, bool bold)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    QFont f = l->font();
    f.setPixelSize(pixels);
    f.setBold(bold);
    l->setFont(f);
    l->setProperty(kBasePixels, pixels);
    l->setAlignment(Qt::AlignHCenter);
    return l;
}

} // namespace

TAbout::TAbout(const QString& languageCode, const QString& programDir, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("About"));
    setWindowTitle(QStringLiteral("Informace o programu ..."));
    setFixedSize(kWidth, kHeight);
    // White where the desktop's text reads on it; a dark desktop's own background otherwise.
    DressWindow(this, {Qt::white, {}, TWindowLook::Place::CentreOnParent});

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kSideMargin, 10, kSideMargin, 10);
    layout->setSpacing(2);
    Label7 = Line(this, "Label7", QStringLiteral("KORVALINEX v. 1.0.9"), 19, false);
    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(Pictures::AboutLogo());
    Image1->setAlignment(Qt::AlignHCenter);
    Image1->setFixedHeight(97);
    Label1 = Line(this, "Label1", QStringLiteral("Korvalinex s.r.o., Průmyslová 1217"), 19, false);
    Label2 = Line(this, "Label2", QStringLiteral("530 02 Pardubice"), 19, false);
    Label3 = Line(this, "Label3", QStringLiteral("tel.: +420 466 000 000, fax: +420 466 000 001"),
                  16, false);
    Label4 =
        Line(this, "Label4", QStringLiteral("www.korvalinex.cz   info@korvalinex.cz"), 13, false);
    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedSize(351, 1);
    SetFillColour(Panel1, kLineRed);
    Label5 =
        Line(this, "Label5",
             QStringLiteral("Program pro Korvalinex napsala softwarová dílna Vlnka"), 11, false);
    Label6 = Line(this, "Label6", QStringLiteral("vlnka@korvalinex.cz"), 11, true);
    for (QWidget* w :
         std::initializer_list<QWidget*>{Label7, Image1, Label1, Label2, Label3, Label4})
        layout->addWidget(w);
    layout->addWidget(Panel1, 0, Qt::AlignHCenter);
    layout->addWidget(Label5);
    layout->addWidget(Label6);
    for (QObject* child : children())
        if (child->isWidgetType())
            child->installEventFilter(this);

    // The box's own form component takes the current language each time the box becomes active.
    languageFile_ = LanguageFileOf(languageCode);
    if (!languageFile_.isEmpty())
        languageFile_.prepend(programDir);
    AttachFormLanguage(this, programDir, [languageCode] { return languageCode; },
                       {QStringLiteral("Caption"), QStringLiteral("Hint")});

    FitLines();
}

bool TAbout::event(QEvent* e)
{
    const bool handled = QDialog::event(e);
    // The language component has applied the texts of the current language by now.
    if (e->type() == QEvent::WindowActivate)
        FitLines();
    return handled;
}

void TAbout::FitLines()
{
    const int room = kWidth - 2 * kSideMargin;
    for (QLabel* l : {Label1, Label2, Label3, Label4, Label5, Label6, Label7}) {
        QFont f = l->font();
        f.setPixelSize(l->property(kBasePixels).toInt());
        l->setFont(f);
        while (l->sizeHint().width() > room && f.pixelSize() > kSmallestPixels) {
            f.setPixelSize(f.pixelSize() - 1);
            l->setFont(f);
        }
    }
}

void TAbout::paintEvent(QPaintEvent* e)
{
    QDialog::paintEvent(e);
    QPainter p(this);
    // Black on the white box; the desktop's text colour on a dark one.
    p.setPen(palette().color(QPalette::WindowText));
    const int w = width(), h = height();
    p.drawLine(0, 0, w - 1, 0);
    p.drawLine(w - 1, 0, w - 1, h - 1);
    p.drawLine(w - 1, h - 1, 0, h - 1);
    p.drawLine(0, h - 1, 0, 0);
}

bool TAbout::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease) {
        accept();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TAbout::mouseReleaseEvent(QMouseEvent* e)
{
    QDialog::mouseReleaseEvent(e);
    accept();
}
