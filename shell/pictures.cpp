#include "shell/pictures.h"

#include <QFont>
#include <QGuiApplication>
#include <QIconEngine>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>
#include <functional>

namespace {

const QColor kCzechBlue(17, 69, 126);
const QColor kCzechRed(215, 20, 26);
const QColor kUkBlue(1, 33, 105);
const QColor kUkRed(200, 16, 46);
const QColor kBrand(0, 90, 160);
const QColor kAccent(204, 0, 0);

// w x h in the window's pixels, drawn at the screen's scale (QT_SCALE_FACTOR, a dense screen) so
// that a picture is as sharp as the text beside it.
QPixmap Blank(int w, int h)
{
    const qreal scale = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    QPixmap pm(QSize(w, h) * scale);
    pm.setDevicePixelRatio(scale);
    pm.fill(Qt::transparent);
    return pm;
}

void Frame(QPainter& p, int w, int h)
{
    p.setPen(QColor(90, 90, 90));
    p.setBrush(Qt::NoBrush);
    p.drawRect(0, 0, w - 1, h - 1);
}

// A flag, 19 x 13, drawn by `paint` and then framed.
QPixmap FramedFlag(const std::function<void(QPainter&)>& paint)
{
    QPixmap pm = Blank(19, 13);
    QPainter p(&pm);
    paint(p);
    Frame(p, 19, 13);
    return pm;
}

void DrawMotor(QPainter& p, QPointF c, qreal r)
{
    p.setPen(QPen(kBrand, 2));
    p.setBrush(Qt::white);
    p.drawEllipse(c, r, r);
    p.setPen(QPen(kAccent, 2));
    for (int i = 0; i < 3; ++i) {
        QLineF blade(c, c + QPointF(r * 0.8, 0));
        blade.setAngle(90 + i * 120);
        p.drawLine(blade);
    }
}

// The name in the two brand colours, the second half `step` below the first.
void DrawWordmark(QPainter& p, int pixels, const QRectF& firstLine, qreal step)
{
    QFont f = p.font();
    f.setPixelSize(pixels);
    f.setBold(true);
    p.setFont(f);
    const auto flags = Qt::AlignLeft | Qt::AlignVCenter;
    p.setPen(kBrand);
    p.drawText(firstLine, flags, QStringLiteral("KORVA"));
    p.setPen(kAccent);
    p.drawText(firstLine.translated(0, step), flags, QStringLiteral("LINEX"));
}

} // namespace

namespace Pictures {

QPixmap CzechFlag()
{
    return FramedFlag([](QPainter& p) {
        p.fillRect(0, 0, 19, 7, Qt::white);
        p.fillRect(0, 6, 19, 7, kCzechRed);
        p.setPen(Qt::NoPen);
        p.setBrush(kCzechBlue);
        p.drawPolygon(QPolygon({QPoint(0, 0), QPoint(9, 6), QPoint(0, 13)}));
    });
}

QPixmap EnglishFlag()
{
    return FramedFlag([](QPainter& p) {
        p.setRenderHint(QPainter::Antialiasing);
        p.fillRect(0, 0, 19, 13, kUkBlue);
        p.setPen(QPen(Qt::white, 3));
        p.drawLine(0, 0, 19, 13);
        p.drawLine(0, 13, 19, 0);
        p.setPen(QPen(kUkRed, 1));
        p.drawLine(0, 0, 19, 13);
        p.drawLine(0, 13, 19, 0);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.fillRect(7, 0, 5, 13, Qt::white);
        p.fillRect(0, 4, 19, 5, Qt::white);
        p.fillRect(8, 0, 3, 13, kUkRed);
        p.fillRect(0, 5, 19, 3, kUkRed);
    });
}

QPixmap GermanFlag()
{
    return FramedFlag([](QPainter& p) {
        p.fillRect(0, 0, 19, 5, Qt::black);
        p.fillRect(0, 4, 19, 5, QColor(221, 0, 0));
        p.fillRect(0, 9, 19, 4, QColor(255, 206, 0));
    });
}

QPixmap OtherLanguage()
{
    // A globe: the language the user brings.
    QPixmap pm = Blank(23, 17);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF globe(4, 0.5, 15, 15);
    p.setPen(QPen(kBrand, 1));
    p.setBrush(QColor(170, 210, 240));
    p.drawEllipse(globe);
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(8.5, 0.5, 6, 15));
    p.drawLine(QPointF(4.5, 8), QPointF(18.5, 8));
    p.drawLine(QPointF(11.5, 0.5), QPointF(11.5, 15.5));
    return pm;
}

QPixmap Logo()
{
    QPixmap pm = Blank(92, 46);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, 46);
    g.setColorAt(0, QColor(250, 250, 250));
    g.setColorAt(1, QColor(205, 215, 228));
    p.setPen(QPen(kBrand, 1));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0.5, 0.5, 91, 45), 6, 6);
    DrawMotor(p, QPointF(17, 23), 11);
    DrawWordmark(p, 11, QRectF(31, 8, 60, 16), 14);
    return pm;
}

QPixmap AboutLogo()
{
    QPixmap pm = Blank(229, 97);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    DrawMotor(p, QPointF(45, 48), 34);
    DrawWordmark(p, 30, QRectF(88, 14, 140, 36), 32);
    return pm;
}

static QPixmap Arrow(bool down)
{
    // A chip with an arrow: down into the PC (read), up into the regulator (write).
    QPixmap pm = Blank(16, 16);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(60, 60, 60), 1));
    p.setBrush(QColor(80, 80, 80));
    p.drawRect(QRectF(1.5, down ? 1.5 : 10.5, 13, 4));
    p.setPen(Qt::NoPen);
    p.setBrush(down ? QColor(0, 140, 60) : kAccent);
    const qreal top = down ? 6 : 1, bottom = down ? 15 : 10;
    QPolygonF arrow;
    if (down)
        arrow << QPointF(8, bottom) << QPointF(3, top + 4) << QPointF(6, top + 4) << QPointF(6, top)
              << QPointF(10, top) << QPointF(10, top + 4) << QPointF(13, top + 4);
    else
        arrow << QPointF(8, top) << QPointF(3, bottom - 4) << QPointF(6, bottom - 4)
              << QPointF(6, bottom) << QPointF(10, bottom) << QPointF(10, bottom - 4)
              << QPointF(13, bottom - 4);
    p.drawPolygon(arrow);
    return pm;
}

QPixmap ReadIcon() { return Arrow(true); }
QPixmap WriteIcon() { return Arrow(false); }

QPixmap Menu(MenuIcon which)
{
    QPixmap pm = Blank(16, 16);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QFont f = p.font();
    f.setPixelSize(12);
    f.setBold(true);
    switch (which) {
    case MenuIcon::Open:
        p.setPen(QColor(150, 110, 20));
        p.setBrush(QColor(240, 200, 90));
        p.drawPolygon(QPolygonF({QPointF(1, 4), QPointF(6, 4), QPointF(7, 6), QPointF(15, 6),
                                 QPointF(15, 14), QPointF(1, 14)}));
        break;
    case MenuIcon::Save:
        p.setPen(QColor(30, 50, 90));
        p.setBrush(QColor(70, 110, 180));
        p.drawRect(QRectF(1.5, 1.5, 13, 13));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(4.5, 1.5, 7, 5));
        break;
    case MenuIcon::Compare:
        // Two sheets side by side, a line on each that differs.
        p.setBrush(Qt::white);
        for (const qreal left : {0.5, 9.5}) {
            p.setPen(QColor(90, 90, 90));
            p.drawRect(QRectF(left, 2.5, 6, 11));
            p.setPen(QPen(kAccent, 2));
            p.drawLine(QPointF(left + 1.5, 8), QPointF(left + 4.5, 8));
        }
        break;
    case MenuIcon::Backups:
        // A stack of sheets with the clock face of the time each was taken.
        p.setPen(QColor(30, 50, 90));
        p.setBrush(QColor(200, 215, 240));
        p.drawRect(QRectF(4.5, 0.5, 10, 10));
        p.drawRect(QRectF(2.5, 2.5, 10, 10));
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(6.5, 9.5), 5.5, 5.5);
        p.setPen(QPen(QColor(30, 50, 90), 1.5));
        p.drawLine(QPointF(6.5, 9.5), QPointF(6.5, 6));
        p.drawLine(QPointF(6.5, 9.5), QPointF(9, 9.5));
        break;
    case MenuIcon::Print:
        // A printer with a sheet coming out of it.
        p.setPen(QColor(60, 60, 60));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(4.5, 0.5, 7, 5));
        p.setBrush(QColor(150, 150, 150));
        p.drawRect(QRectF(0.5, 5.5, 15, 6));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(3.5, 9.5, 9, 6));
        break;
    case MenuIcon::Pdf:
        // A sheet with the lines of a table and a red band.
        p.setPen(QColor(90, 90, 90));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(2.5, 0.5, 11, 15));
        for (const qreal y : {4.0, 7.0, 10.0})
            p.drawLine(QPointF(4.5, y), QPointF(11.5, y));
        p.setPen(Qt::NoPen);
        p.setBrush(kAccent);
        p.drawRect(QRectF(2.5, 11.5, 11, 4));
        break;
    case MenuIcon::Eeprom:
        p.setPen(QColor(40, 40, 40));
        p.setBrush(QColor(60, 60, 60));
        p.drawRect(QRectF(3.5, 2.5, 9, 11));
        for (int y = 4; y < 13; y += 3) {
            p.drawLine(QPointF(1, y), QPointF(3.5, y));
            p.drawLine(QPointF(12.5, y), QPointF(15, y));
        }
        break;
    case MenuIcon::Setup:
        p.setPen(QPen(QColor(70, 70, 70), 2));
        p.setBrush(QColor(180, 180, 180));
        p.drawEllipse(QPointF(8, 8), 5, 5);
        p.drawEllipse(QPointF(8, 8), 1.5, 1.5);
        break;
    case MenuIcon::Check:
        // A magnifying glass.
        p.setPen(QPen(QColor(70, 70, 70), 2));
        p.setBrush(QColor(220, 235, 250));
        p.drawEllipse(QPointF(6.5, 6.5), 4.5, 4.5);
        p.drawLine(QPointF(10, 10), QPointF(14.5, 14.5));
        break;
    case MenuIcon::Exit:
        p.setPen(QPen(kAccent, 2));
        p.drawLine(QPointF(4, 4), QPointF(12, 12));
        p.drawLine(QPointF(12, 4), QPointF(4, 12));
        break;
    case MenuIcon::Help:
    case MenuIcon::About:
        p.setPen(kBrand);
        p.setBrush(QColor(220, 235, 250));
        p.drawEllipse(QRectF(1, 1, 14, 14));
        p.setFont(f);
        p.drawText(QRectF(1, 1, 14, 14), Qt::AlignCenter,
                   which == MenuIcon::Help ? QStringLiteral("?") : QStringLiteral("i"));
        break;
    }
    return pm;
}

namespace {

class TLazyMenuIcon final : public QIconEngine {
public:
    explicit TLazyMenuIcon(MenuIcon which) : which_(which) {}
    void paint(QPainter* p, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        Icon().paint(p, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return Icon().pixmap(size, mode, state);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override
    {
        return Icon().pixmap(size, scale, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override
    {
        return size.boundedTo(QSize(kSide, kSide));
    }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        return {QSize(kSide, kSide)};
    }
    QIconEngine* clone() const override { return new TLazyMenuIcon(which_); }

private:
    static constexpr int kSide = 16;
    // The plain icon of the picture, with the disabled look the style gives any icon.
    const QIcon& Icon()
    {
        if (icon_.isNull())
            icon_ = QIcon(Menu(which_));
        return icon_;
    }
    MenuIcon which_;
    QIcon icon_;
};

} // namespace

QIcon MenuIconLazy(MenuIcon which) { return QIcon(new TLazyMenuIcon(which)); }

QImage AppIcon(int size)
{
    // Drawn on a 64-unit grid and scaled, so every size shows the same motor: a rotor with three
    // blades in a stator ring, on the brand colour.
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    QLinearGradient g(0, 0, 0, 64);
    g.setColorAt(0, kBrand.lighter(130));
    g.setColorAt(1, kBrand.darker(130));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
    const QPointF c(32, 32);
    p.setBrush(Qt::white);
    p.drawEllipse(c, 23, 23);
    p.setBrush(kBrand.darker(150));
    p.drawEllipse(c, 18, 18);
    p.setBrush(Qt::white);
    p.drawEllipse(c, 15, 15);
    p.setPen(QPen(kAccent, 5, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 3; ++i) {
        QLineF blade(c, c + QPointF(12, 0));
        blade.setAngle(90 + i * 120);
        p.drawLine(blade);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(kBrand.darker(150));
    p.drawEllipse(c, 4, 4);
    return img;
}

} // namespace Pictures
