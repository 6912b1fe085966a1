#include "look/windowlook.h"

#include "look/contrast.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QVariant>
#include <QWidget>
#include <QWindow>

namespace {

constexpr char kTextColourProperty[] = "kxTextColour";
constexpr char kFillColourProperty[] = "kxFillColour";
// Title bars of the usual desktops are up to this high; a window is placed as if it had one
// until the desktop has framed it.
constexpr int kTitleBarAllowance = 40;
constexpr int kBorderAllowance = 4;
// A window that shrinks keeps at least this much, so that it stays a window.
constexpr QSize kSmallest(240, 160);
constexpr int kFrameLooks[] = {300, 1500}; // milliseconds after showing

QMargins FrameOf(const QWidget* window)
{
    if (const QWindow* handle = window->windowHandle()) {
        const QMargins m = handle->frameMargins();
        if (!m.isNull() || window->windowFlags().testFlag(Qt::FramelessWindowHint))
            return m;
    }
    if (window->windowFlags().testFlag(Qt::FramelessWindowHint))
        return {};
    return {kBorderAllowance, kTitleBarAllowance, kBorderAllowance, kBorderAllowance};
}

QScreen* ScreenOf(const QWidget* window)
{
    QScreen* s = window->screen();
    return s ? s : QGuiApplication::primaryScreen();
}

void ApplyText(QWidget* w)
{
    const QColor wanted = w->property(kTextColourProperty).value<QColor>();
    QPalette p = w->palette();
    const QColor background = p.color(w->backgroundRole());
    QColor c = Readable(wanted, background);
    // Black (or a grey) that does not read becomes the desktop's own text: a lightened grey would
    // look disabled.
    if (c != wanted && wanted.hslSaturation() <= 0) {
        const QColor text = QApplication::palette(w).color(QPalette::WindowText);
        if (ContrastRatio(text, background) >= kTextContrast)
            c = text;
    }
    // The disabled look stays the desktop's.
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::WindowText, c);
        p.setColor(group, QPalette::ButtonText, c);
    }
    w->setPalette(p);
}

void ApplyFill(QWidget* w)
{
    const QColor wanted = w->property(kFillColourProperty).value<QColor>();
    const QWidget* under = w->parentWidget() ? w->parentWidget() : w;
    QPalette p = w->palette();
    p.setColor(QPalette::Window,
               Readable(wanted, under->palette().color(QPalette::Window), kMarkContrast));
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

// Watches one window: the desktop's palette, its screen and its frame.
class TLook final : public QObject {
public:
    TLook(QWidget* window, const TWindowLook& look) : QObject(window), w_(window), look_(look)
    {
        window->installEventFilter(this);
        if (look_.natural.isValid())
            window->setFixedSize(look_.natural);
        ApplyBackground();
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != w_)
            return PressOnEnter(watched, event) || QObject::eventFilter(watched, event);
        switch (event->type()) {
        case QEvent::ApplicationPaletteChange:
        case QEvent::ThemeChange:
            ApplyBackground();
            Recolour();
            break;
        case QEvent::Show:
            WatchButtons();
            WatchScreen();
            Fit(!shownBefore_, true);
            shownBefore_ = true;
            // The desktop tells the frame it drew a moment after the window shows, with no event
            // of its own: a look once it has.
            for (const int ms : kFrameLooks)
                QTimer::singleShot(ms, this, [this] {
                    if (w_->isVisible() && FrameOf(w_) != assumed_)
                        Fit(false);
                });
            break;
        case QEvent::Move:
            // The desktop has framed the window: placed with its real frame now. (A window the
            // user moves stays where it is put.)
            if (w_->isVisible() && !fitting_ && FrameOf(w_) != assumed_)
                Fit(false);
            break;
        case QEvent::Resize:
            // A window that grows while shown (a dialog with advice to give) stays on the screen.
            if (w_->isVisible() && !fitting_)
                Fit(false);
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }

    void ApplyBackground()
    {
        QPalette p = w_->palette();
        const QPalette desktop = QApplication::palette(w_);
        QColor background = desktop.color(QPalette::Window);
        if (look_.background.isValid() &&
            ContrastRatio(desktop.color(QPalette::WindowText), look_.background) >= kTextContrast)
            background = look_.background;
        if (p.color(QPalette::Window) != background ||
            !p.isBrushSet(QPalette::Active, QPalette::Window)) {
            p.setColor(QPalette::Window, background);
            w_->setPalette(p);
        }
        w_->setAutoFillBackground(true);
    }

    void Recolour()
    {
        QList<QWidget*> widgets = w_->findChildren<QWidget*>();
        widgets.prepend(w_);
        // Fills first: a text may sit on one.
        for (QWidget* w : widgets)
            if (w->window() == w_ && w->property(kFillColourProperty).isValid())
                ApplyFill(w);
        for (QWidget* w : widgets)
            if (w->window() == w_ && w->property(kTextColourProperty).isValid())
                ApplyText(w);
    }

    // Enter on a focused button presses it, as Space does. (A dialog's automatic default button
    // would also take an Enter meant for a list or a field.)
    void WatchButtons()
    {
        // Installing a filter twice keeps one.
        for (QPushButton* b : w_->findChildren<QPushButton*>())
            if (b->window() == w_)
                b->installEventFilter(this);
    }

    static bool PressOnEnter(QObject* watched, QEvent* event)
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        auto* button = qobject_cast<QPushButton*>(watched);
        if (!button || key->modifiers() & ~Qt::KeypadModifier ||
            (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter))
            return false;
        if (button->isEnabled())
            button->click();
        return true;
    }

    void WatchScreen()
    {
        QWindow* handle = w_->windowHandle();
        if (!handle || watching_ == handle)
            return;
        watching_ = handle;
        connect(handle, &QWindow::screenChanged, this, [this] { Fit(false); });
    }

    // first: the window's first showing; shown: any showing (not a move or a new screen).
    void Fit(bool first, bool shown = false)
    {
        fitting_ = true;
        assumed_ = FrameOf(w_);
        const QRect room = RoomFor(w_);
        if (look_.natural.isValid()) {
            QSize size = look_.natural.boundedTo(room.size());
            if (size == look_.natural) {
                w_->setFixedSize(size);
            } else {
                // What scrolls one way takes a scroll bar's room the other way: given, where the
                // screen has it, so that a window short of height needs no sideways scrolling.
                const int bar = w_->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, w_);
                const QSize most = look_.natural + QSize(bar, bar);
                if (size.height() < look_.natural.height())
                    size.rwidth() = std::min(look_.natural.width() + bar, room.width());
                if (size.width() < look_.natural.width())
                    size.rheight() = std::min(look_.natural.height() + bar, room.height());
                w_->setMinimumSize(kSmallest.boundedTo(size));
                w_->setMaximumSize(most);
                w_->resize(size);
            }
        } else if (w_->minimumSize() != w_->maximumSize()) {
            w_->setMaximumSize(room.size().expandedTo(w_->minimumSize()));
            if (w_->width() > room.width() || w_->height() > room.height())
                w_->resize(w_->size().boundedTo(room.size()));
        }
        // The frame's top left corner: where the window goes so that all of it is in the room.
        const QRect available = room.marginsAdded(assumed_);
        const QSize frame = w_->size().grownBy(assumed_);
        QPoint at = w_->pos();
        const QPoint half(frame.width() / 2, frame.height() / 2);
        if (first && look_.place == TWindowLook::Place::CentreOnScreen)
            at = available.center() - half;
        const QWidget* parent = w_->parentWidget();
        if (shown && parent && look_.place == TWindowLook::Place::CentreOnParent)
            at = parent->window()->frameGeometry().center() - half;
        at.setX(std::clamp(at.x(), available.left(),
                           std::max(available.left(), available.right() + 1 - frame.width())));
        at.setY(std::clamp(at.y(), available.top(),
                           std::max(available.top(), available.bottom() + 1 - frame.height())));
        if (at != w_->pos())
            w_->move(at);
        fitting_ = false;
    }

private:
    QWidget* w_;
    TWindowLook look_;
    QMargins assumed_;
    QWindow* watching_ = nullptr;
    bool shownBefore_ = false;
    bool fitting_ = false;
};

constexpr char kFullTextProperty[] = "kxFullText";

void Elide(QLabel* label)
{
    const QString full = label->property(kFullTextProperty).toString();
    // Until it is shown the label has no width of its own to measure by.
    const int room = label->contentsRect().width() - 2 * label->margin();
    const QString shown = label->isVisible() && room > 0
                              ? label->fontMetrics().elidedText(full, Qt::ElideMiddle, room)
                              : full;
    if (label->text() != shown)
        label->setText(shown);
}

class TElide final : public QObject {
public:
    // Found by its name: without meta-object of its own, findChild<TElide*> would take any child.
    static constexpr char kName[] = "kxElide";
    explicit TElide(QLabel* label) : QObject(label)
    {
        setObjectName(QLatin1String(kName));
        label->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Resize || event->type() == QEvent::FontChange ||
            event->type() == QEvent::Show) {
            if (auto* label = qobject_cast<QLabel*>(watched))
                Elide(label);
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

void SetElidedText(QLabel* label, const QString& text)
{
    if (!label->findChild<QObject*>(QLatin1String(TElide::kName), Qt::FindDirectChildrenOnly))
        new TElide(label);
    label->setProperty(kFullTextProperty, text);
    const QString tip = text.trimmed();
    label->setToolTip(tip);
    label->setAccessibleName(tip);
    Elide(label);
}

void DressWindow(QWidget* window, const TWindowLook& look) { new TLook(window, look); }

void SetTextColour(QWidget* w, const QColor& wanted)
{
    w->setProperty(kTextColourProperty, wanted);
    ApplyText(w);
}

void ClearTextColour(QWidget* w)
{
    if (!w->property(kTextColourProperty).isValid())
        return;
    w->setProperty(kTextColourProperty, QVariant());
    // A palette that sets nothing: the widget follows its parent's again, changes included.
    w->setPalette(QPalette());
}

void SetFillColour(QWidget* w, const QColor& wanted)
{
    w->setProperty(kFillColourProperty, wanted);
    ApplyFill(w);
}

QRect RoomFor(const QWidget* window)
{
    const QRect available = ScreenOf(window)->availableGeometry();
    return available.marginsRemoved(FrameOf(window));
}
