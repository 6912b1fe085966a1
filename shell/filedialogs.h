#pragma once
// The window's open and save dialogs (OpenDlg, SaveDlg) behind a small interface, so that tests can
// answer them instead of blocking in a modal loop.

#include <QString>

class QWidget;

struct TFileDialogRequest {
    QString initialDir; // where the dialog starts
    QString fileName;   // proposed name (save dialog), a full path or empty
    // Filter in the old platform's form: description "|" pattern, pairs separated by "|".
    QString filter;
    QString defaultExt; // "*.zeq" or "zeq": added to a name typed without an extension
};

class IFileDialogs {
public:
    virtual ~IFileDialogs() = default;
    // The chosen file's path, or empty when the user cancelled.
    virtual QString OpenDlg(const TFileDialogRequest& request) = 0;
    // The confirmed name; the dialog does not ask about overwriting (the caller does).
    virtual QString SaveDlg(const TFileDialogRequest& request) = 0;
};

// "Text [*.zeq]|*.zeq|All|*" becomes "Text [*.zeq] (*.zeq);;All (*)".
QString QtFileFilter(const QString& filter);
// "*.zeq", ".zeq" and "zeq" all give "zeq".
QString PlainSuffix(const QString& defaultExt);

class TQtFileDialogs final : public IFileDialogs {
public:
    explicit TQtFileDialogs(QWidget* parent) : parent_(parent) {}
    QString OpenDlg(const TFileDialogRequest& request) override;
    QString SaveDlg(const TFileDialogRequest& request) override;

private:
    QWidget* parent_;
};
