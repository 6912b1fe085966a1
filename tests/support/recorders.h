#pragma once
// Test doubles for what the window shows and the adapter it would open.

#include "protocol/transport.h"
#include "shell/filedialogs.h"
#include "shell/messageboxes.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

struct TRecordedBox {
    TBoxKind kind;
    QString caption;
    QString text;
    QStringList buttons; // of a question
    TDefaultAnswer preset = TDefaultAnswer::Yes;
    int presetButton = -1; // of a question with a choice of answers
};

class TRecordingBoxes final : public IMessageBoxes {
public:
    void Show(TBoxKind kind, const QString& caption, const QString& text) override
    {
        boxes.append({kind, caption, text, {}});
        WhileOpen();
    }
    bool Ask(const QString& caption, const QString& text, const QString& yes, const QString& no,
             TDefaultAnswer preset) override
    {
        boxes.append({TBoxKind::Plain, caption, text, {yes, no}, preset});
        WhileOpen();
        return answer;
    }
    int Choose(const QString& caption, const QString& text, const QStringList& buttons,
               int preset) override
    {
        boxes.append({TBoxKind::Plain, caption, text, buttons, TDefaultAnswer::Yes, preset});
        WhileOpen();
        const int chosen = choices.isEmpty() ? preset : choices.takeFirst();
        return chosen;
    }
    QList<TRecordedBox> boxes;
    bool answer = true;
    // The buttons chosen, in turn, in questions with a choice; Enter (the preset) once used up.
    QList<int> choices;
    // Runs while a box is open, as the user reads it (time may go on meanwhile, as it does behind
    // a modal box); mostOpen counts the boxes that were open at once.
    std::function<void()> whileOpen;
    int mostOpen = 0;

private:
    void WhileOpen()
    {
        ++open_;
        mostOpen = std::max(mostOpen, open_);
        if (whileOpen)
            whileOpen();
        --open_;
    }
    int open_ = 0;
};

// An adapter that is never there, counting how often the program looked for it.
class TCountingNoUsb final : public IUsbLink {
public:
    bool UsbReadyCheck() override
    {
        ++checks;
        return false;
    }
    void UsbSend(const QByteArray&) override { ++sends; }
    void UsbReadAsync(int, UsbReplyNeed, UsbReadDone done) override { done({}); }
    void UsbSetDataCharacteristics(int, int, int) override {}
    void UsbClose() override { ++closes; }
    int checks = 0;
    int sends = 0;
    int closes = 0;
};

// Open and save dialogs answered from a script: each showing takes the next answer (a path, or
// empty for Cancel); with the script used up the dialog is cancelled. Every request is kept.
class TScriptedDialogs final : public IFileDialogs {
public:
    QString OpenDlg(const TFileDialogRequest& request) override { return Next(request, false); }
    QString SaveDlg(const TFileDialogRequest& request) override { return Next(request, true); }

    QStringList answers;
    QList<TFileDialogRequest> requests;
    QList<bool> wasSave;
    std::function<void()> whileShown; // runs while the dialog is "open"

private:
    QString Next(const TFileDialogRequest& request, bool save)
    {
        requests.append(request);
        wasSave.append(save);
        if (whileShown)
            whileShown();
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
};
