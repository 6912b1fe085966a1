#pragma once
// The caption that the window's frame shows. The desktop's window manager draws the frame, so this
// holds no widget of its own: its caption is the window's title. A language file translates it
// under its own name ("suiForm1_Caption"), while the window's own caption is never translated.

#include <QObject>
#include <QString>
#include <QWidget>

class TFormCaption final : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString caption READ Caption WRITE SetCaption)
public:
    TFormCaption(const QString& caption, QWidget* window) : QObject(window), window_(window)
    {
        SetCaption(caption);
    }
    QString Caption() const { return caption_; }
    void SetCaption(const QString& caption)
    {
        caption_ = caption;
        window_->setWindowTitle(caption);
    }

private:
    QWidget* window_;
    QString caption_;
};
