#pragma once
// The regulator simulator in process on the far end of a real pseudo-terminal, reached by the
// window through a fixed link name as a USB-serial adapter is through its device name. Pulling the
// cable closes the far end and removes the name; plugging it in makes a new terminal behind the
// name. Replies go out at once, or in pieces paced on the test's virtual clock: each piece after
// the line time of its bytes, with an extra pause between pieces.

#include "link/commconnect.h"
#include "tests/support/ptyfixture.h"
#include "tests/support/pump.h"
#include "tests/support/windowrig.h"
#include "tools/regsim/regfile.h"
#include "tools/regsim/regulator.h"

#include <QFile>
#include <QString>
#include <memory>
#include <utility>
#include <vector>

class TPtyRegulator {
public:
    TPtyRegulator(QString linkPath, IClock* clock = nullptr)
        : link_(std::move(linkPath)), clock_(clock)
    {
    }
    ~TPtyRegulator() { Unplug(); }

    void Plug()
    {
        if (pty_)
            return;
        pty_ = std::make_unique<linktest::PtyPair>();
        QFile::remove(link_);
        ASSERT_TRUE(QFile::link(pty_->Path(), link_));
    }
    void Unplug()
    {
        pending_.clear();
        QFile::remove(link_);
        pty_.reset();
        sim.LineIdle();
        served = 0;
        delivered = 0;
    }
    bool Plugged() const { return pty_ != nullptr; }
    // Replies in pieces of this many bytes taking msPerByte each on the line, gapMs of virtual time
    // between pieces (needs the clock); size 0: at once.
    void SetPieces(size_t size, int gapMs, double msPerByte = 0)
    {
        pieceSize_ = size;
        gapMs_ = gapMs;
        msPerByte_ = msPerByte;
    }
    // Answers whatever the window has sent since the last call.
    void Serve()
    {
        if (!pty_)
            return;
        char buffer[512];
        ssize_t n;
        while ((n = ::read(pty_->Master(), buffer, sizeof buffer)) > 0) {
            const regsim::Bytes reply = sim.Feed(reinterpret_cast<const uint8_t*>(buffer), n);
            const QByteArray bytes(reinterpret_cast<const char*>(reply.data()),
                                   qsizetype(reply.size()));
            if (bytes.isEmpty())
                continue;
            if (!pieceSize_ || !clock_) {
                Write(bytes);
                continue;
            }
            double at = n * msPerByte_;
            for (qsizetype i = 0; i < bytes.size(); i += qsizetype(pieceSize_)) {
                const QByteArray piece = bytes.mid(i, qsizetype(pieceSize_));
                at += piece.size() * msPerByte_ + (i ? gapMs_ : 0);
                pending_.push_back(clock_->After(int(at), [this, piece] { Write(piece); }));
            }
        }
    }

    regsim::Regulator sim{regsim::ParseRegulatorText(regsim::DemoRegulatorText(), "demo")};
    // Reply bytes written to the line, and bytes the window's port has handed on, on this line.
    int64_t served = 0;
    int64_t delivered = 0;

private:
    void Write(const QByteArray& bytes)
    {
        if (!pty_)
            return;
        pty_->Send(bytes);
        served += bytes.size();
    }

    QString link_;
    IClock* clock_;
    std::unique_ptr<linktest::PtyPair> pty_;
    size_t pieceSize_ = 0;
    int gapMs_ = 0;
    double msPerByte_ = 0;
    std::vector<IClock::Token> pending_;
};

// The main window over its own serial port, with the simulator on a pseudo-terminal behind a link
// in the program folder, the demo model and the lookup files in place. The line is real, the
// protocol's time virtual: Settle() lets every reply on its way through the line and the port
// arrive before time moves on, so no reply is late however slow the threads are.
struct TPtyWindow : TWindowRig {
    // The disk is out of virtual time: a writer thread could lag any number of virtual seconds
    // behind when the threads are slow (a log's last records not yet in EEPROM.txt when checked).
    TPtyRegulator regulator{dir.File("port"), &clock};

    TPtyWindow()
    {
        dir.WriteDemoFiles();
        WriteSetup(
            ("[SETUP]\r\nDEVICE=COM\r\nCOM=" + dir.File("port") + "\r\nLANGUAGE=CZ\r\n").toUtf8());
    }
    ~TPtyWindow() { form.reset(); }
    TMainForm& Start()
    {
        TMainForm& f = StartWith(Env());
        auto receive = f.Comm1().OnRxChar;
        f.Comm1().OnRxChar = [this, receive](TCommunicationConnection* c, int count) {
            regulator.delivered += count;
            receive(c, count);
        };
        return f;
    }
    // Connected and answering: the buttons usable and the presence queries running.
    bool Connected() const
    {
        return TWindowRig::Connected() && form->Button1->isEnabled() &&
               form->Cycle().PresenceTimer().Enabled();
    }
    // Answers what the window sent and waits (in real time, bounded) until what was answered has
    // come through the port.
    void Settle()
    {
        regulator.Serve();
        QCoreApplication::processEvents();
        PumpUntil(
            [this] {
                regulator.Serve();
                return !regulator.Plugged() || regulator.delivered >= regulator.served;
            },
            10000);
    }
};
