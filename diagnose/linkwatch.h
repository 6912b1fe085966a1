#pragma once
// The connection check's look at the live link: whether it opened, the wake-up calls sent and what
// came back since the regulator was last lost, and who answered. It is fed by the link's taps
// (link/linktap.h) and the cycle's events, so it works the same beside the window's own cycle and
// beside the one korvalinex-cli doctor runs.

#include "diagnose/checks.h"
#include "link/linktap.h"
#include "link/usbdevices.h"
#include "protocol/cycleevents.h"

#include <QByteArray>
#include <optional>

class TLinkWatch final : public ICycleEvents {
public:
    // What the link's taps tell.
    TLinkObserver Observer();

    // The regulator answered: counting stops until it is lost again.
    void Identified(const TIdentifiedEvent& event) override;
    // An identified regulator went away: counting starts afresh. Before the identification the
    // same resets are the cycle trying again, and the counts go on.
    void RegulatorLost() override { Forget(); }
    void TimeoutReset() override { Forget(); }
    void LinkError(const TLinkErrorEvent&) override { Forget(); }

    // Nothing before the first attempt to open the link; 0 when the last attempt opened it, else
    // its error code (-1 when the link gave none).
    const std::optional<int>& OpenResult() const { return openResult_; }
    int Sent() const { return sent_; }
    int Received() const { return received_; }
    const QByteArray& FirstReceived() const { return first_; }
    // The regulator that answered since the link was last lost, or none.
    const std::optional<TRegulatorIdentity>& Answered() const { return answered_; }
    int SentBeforeAnswer() const { return sentBeforeAnswer_; }
    // The last regulator that answered at all, also one lost since.
    const std::optional<TRegulatorIdentity>& LastIdentity() const { return lastIdentity_; }

private:
    void Forget();

    std::optional<int> openResult_;
    int sent_ = 0, received_ = 0, sentBeforeAnswer_ = 0;
    QByteArray first_;
    std::optional<TRegulatorIdentity> answered_, lastIdentity_;
};

// Where the live findings look for the model definition file and how a link's failure to open is
// put into words.
struct TLiveContext {
    TCheckedLink link;
    QString programDir; // with a trailing "/"
    QString language;
    TUsbOpenProblem usbProblem; // why the adapter would not open, as the USB link last saw it
};

// The findings of the live link: it opens (or why not), the wake-up calls and what came back, who
// answered, and the model definition file for it.
QList<TFinding> LinkFindings(const TLinkWatch& watch, const TLiveContext& context,
                             const TsmlMsgLangRes& messages);
