// The reply parser with the real connection cycle behind it, over the COM port or the USB adapter,
// on virtual time: the fuzzer's bytes arrive in any chunking while the cycle waits for an
// identification, a read, a write, a presence answer or a log record, between the user's clicks,
// pauses of any length and a line that goes away and comes back. However the bytes go, the cycle
// must stay alive (after a quiet spell some timer runs again and no receive is left hanging) and
// EEPROM.txt, whenever it exists, must be whole lines of byte values.

#include "fuzzsupport.h"
#include "headless.h"

#include <deque>

extern "C" int LLVMFuzzerInitialize(int*, char***) { return FuzzInitialize(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const bool overUsb = in.ConsumeBool();
    QFile::remove(FuzzProgramDir() + kEepromFileName);
    THeadlessCycle rig(FuzzProgramDir(), overUsb);
    std::deque<UsbReadResult> usbReplies;
    rig.usb.next = [&usbReplies] {
        if (usbReplies.empty())
            return UsbReadResult{};
        UsbReadResult r = usbReplies.front();
        usbReplies.pop_front();
        return r;
    };
    int steps = 0;
    const bool trace = qEnvironmentVariableIsSet("KX_FUZZ_TRACE");
    while (in.remaining_bytes() > 0 && ++steps < 200) {
        const int op = in.ConsumeIntegralInRange<int>(0, 11);
        if (trace)
            std::fprintf(stderr, "op %d at %lld t %d%d%d%d%d busy %d gone %d present %d\n", op,
                         (long long)rig.clock.Now(), rig.cycle->WakeUpTimer().Enabled(),
                         rig.cycle->PresenceTimer().Enabled(), rig.cycle->TimeoutTimer().Enabled(),
                         rig.cycle->WatchdogTimer().Enabled(), rig.cycle->PortWatch().Enabled(),
                         rig.cycle->State().busy + 10 * rig.cycle->LinkLost() +
                             100 * rig.view.errors,
                         rig.port.lineGone, rig.port.present);
        switch (op) {
        case 0:
        case 1:
        case 2:
        case 3: {
            const QByteArray bytes = Bytes(in.ConsumeRandomLengthString(64));
            if (trace)
                std::fprintf(stderr, "  bytes %s\n", bytes.toHex(' ').constData());
            if (overUsb)
                usbReplies.push_back({bytes, false});
            else
                rig.Receive(bytes);
            break;
        }
        case 4:
            rig.clock.Advance(in.ConsumeIntegralInRange<int>(0, 800));
            break;
        case 5:
            rig.Click(&TConnectionCycle::StartRead);
            break;
        case 6:
            rig.Click(&TConnectionCycle::StartWrite);
            break;
        case 7:
            rig.Click(&TConnectionCycle::StartFactoryReset);
            break;
        case 8:
            rig.Click(&TConnectionCycle::StartLogDownload);
            break;
        case 9:
            // The cable: pulled out or put back.
            // (The USB link reports a lost adapter through its ready check, never by throwing.)
            rig.port.lineGone = in.ConsumeBool();
            rig.port.present = rig.usb.present = in.ConsumeBool();
            break;
        case 10:
            if (overUsb)
                usbReplies.push_back({{}, true});
            break;
        case 11:
            rig.clock.Advance(in.ConsumeIntegralInRange<int>(2000, 5000));
            break;
        }
        QFile eeprom(FuzzProgramDir() + kEepromFileName);
        if (eeprom.open(QIODevice::ReadOnly)) {
            std::vector<QByteArray> records;
            FUZZ_CHECK(ParseEepromFile(eeprom.readAll(), &records));
            FUZZ_CHECK(int(records.size()) == rig.cycle->LogDownload().stored);
        }
    }
    // A quiet line, the cable in: the cycle goes on looking for the regulator.
    rig.port.lineGone = false;
    rig.port.present = rig.usb.present = true;
    usbReplies.clear();
    rig.clock.Advance(9000);
    if (qEnvironmentVariableIsSet("KX_FUZZ_TRACE")) {
        const ProtocolState& s = rig.cycle->State();
        std::fprintf(stderr,
                     "busy %d id %d rd %d wr %d pr %d log %d usb %d inflight %d t %d%d%d%d%d\n",
                     s.busy, s.identificationPending, s.readPending, s.writePending,
                     s.presencePending, s.logPending, rig.cycle->UsbExchangeActive(),
                     rig.usb.readsInFlight, rig.cycle->WakeUpTimer().Enabled(),
                     rig.cycle->PresenceTimer().Enabled(), rig.cycle->TimeoutTimer().Enabled(),
                     rig.cycle->WatchdogTimer().Enabled(), rig.cycle->PortWatch().Enabled());
    }
    FUZZ_CHECK(rig.AnyTimerRunning());
    FUZZ_CHECK(!rig.cycle->State().logPending || rig.cycle->WatchdogTimer().Enabled());
    FUZZ_CHECK(rig.cycle->State().replyBuffer.Size() <= 4096);
    return 0;
}
