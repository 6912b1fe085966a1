#pragma once
// The About box: a borderless white window with the program's name and version, a logo, the maker's
// address lines and the credit line. A click anywhere on it closes it. It is built anew for each
// showing, so it always speaks the current language.

#include <QDialog>

class QLabel;

class TAbout : public QDialog {
    Q_OBJECT
public:
    TAbout(const QString& languageCode, const QString& programDir, QWidget* parent);

    static constexpr int kWidth = 394;
    static constexpr int kHeight = 298;

    QLabel *Label1 = nullptr, *Label2 = nullptr, *Label3 = nullptr, *Label4 = nullptr,
           *Label5 = nullptr, *Label6 = nullptr, *Label7 = nullptr, *Image1 = nullptr;
    QWidget* Panel1 = nullptr;

    // The language file this box applies when it becomes active; empty for a code other than the
    // four.
    QString LanguageFile() const { return languageFile_; }

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    // A translated line that is wider than the box gets a smaller font instead of being cut.
    void FitLines();

    QString languageFile_;
};
