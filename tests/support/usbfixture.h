#pragma once
// The main window over the USB link: the real TUsbLink and D2XXUnit over simulated FTDI adapters
// with the in-process regulator simulator behind them, all on virtual time. A receive's blocking
// part runs at once against the simulated adapter's virtual time, and its result comes back when
// the test clock reaches the moment the read would have ended.

#include "link/usblink.h"
#include "tests/support/virtualusb.h"
#include "tests/support/windowrig.h"
#include "tools/regsim/ftsimadapter.h"
#include "tools/regsim/regfile.h"

#include <QStatusBar>
#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// Every FT_* call by name and arguments, in order, passed on to the simulated adapters.
class TFtCallLog final : public IFtDriver {
public:
    explicit TFtCallLog(IFtDriver& next) : next_(next) {}
    std::vector<std::string> calls;
    FT_STATUS ListDevices(PVOID a, PVOID b, DWORD flags) override
    {
        calls.push_back(flags & FT_LIST_NUMBER_ONLY
                            ? "ListDevices(count)"
                            : "ListDevices(" + std::to_string(reinterpret_cast<uintptr_t>(a)) +
                                  (flags & FT_OPEN_BY_DESCRIPTION ? ",description)" : ",serial)"));
        return next_.ListDevices(a, b, flags);
    }
    FT_STATUS Open(int n, FT_HANDLE* h) override
    {
        calls.push_back("Open(" + std::to_string(n) + ")");
        return next_.Open(n, h);
    }
    FT_STATUS Close(FT_HANDLE h) override
    {
        calls.push_back("Close");
        return next_.Close(h);
    }
    FT_STATUS ResetDevice(FT_HANDLE h) override
    {
        calls.push_back("ResetDevice");
        return next_.ResetDevice(h);
    }
    FT_STATUS SetBaudRate(FT_HANDLE h, ULONG baud) override
    {
        calls.push_back("SetBaudRate(" + std::to_string(baud) + ")");
        return next_.SetBaudRate(h, baud);
    }
    FT_STATUS SetDataCharacteristics(FT_HANDLE h, UCHAR w, UCHAR s, UCHAR p) override
    {
        calls.push_back("SetDataCharacteristics(" + std::to_string(w) + "," + std::to_string(s) +
                        "," + std::to_string(p) + ")");
        return next_.SetDataCharacteristics(h, w, s, p);
    }
    FT_STATUS SetFlowControl(FT_HANDLE h, USHORT m, UCHAR on, UCHAR off) override
    {
        calls.push_back("SetFlowControl(" + std::to_string(m) + "," + std::to_string(on) + "," +
                        std::to_string(off) + ")");
        return next_.SetFlowControl(h, m, on, off);
    }
    FT_STATUS SetChars(FT_HANDLE h, UCHAR e, UCHAR ee, UCHAR r, UCHAR re) override
    {
        calls.push_back("SetChars(" + std::to_string(e) + "," + std::to_string(ee) + "," +
                        std::to_string(r) + "," + std::to_string(re) + ")");
        return next_.SetChars(h, e, ee, r, re);
    }
    FT_STATUS SetTimeouts(FT_HANDLE h, ULONG r, ULONG w) override
    {
        calls.push_back("SetTimeouts(" + std::to_string(r) + "," + std::to_string(w) + ")");
        return next_.SetTimeouts(h, r, w);
    }
    FT_STATUS GetQueueStatus(FT_HANDLE h, DWORD* n) override
    {
        calls.push_back("GetQueueStatus");
        return next_.GetQueueStatus(h, n);
    }
    FT_STATUS Write(FT_HANDLE h, LPVOID b, DWORD n, LPDWORD w) override
    {
        calls.push_back("Write(" + std::to_string(n) + ")");
        return next_.Write(h, b, n, w);
    }
    FT_STATUS Read(FT_HANDLE h, LPVOID b, DWORD n, LPDWORD r) override
    {
        const FT_STATUS st = next_.Read(h, b, n, r);
        calls.push_back("Read(" + std::to_string(n) + ")=" + std::to_string(r ? *r : 0));
        return st;
    }
    FT_STATUS Purge(FT_HANDLE h, ULONG mask) override
    {
        calls.push_back("Purge(" + std::to_string(mask) + ")");
        return next_.Purge(h, mask);
    }
    const char* LastErrorDetail() const override { return next_.LastErrorDetail(); }
    FtOpenFailure LastOpenFailure() const override { return next_.LastOpenFailure(); }

private:
    IFtDriver& next_;
};

struct TRecordingFtBox final : IFtErrorBox {
    void ShowFtError(const QString& text) override { texts.append(text); }
    QStringList texts;
};

// The settings dialog's device list as the ready check sees it.
struct TFakeDeviceList final : IUsbDeviceList {
    bool active = false;
    QStringList rows;
    int clears = 0;
    bool IsActiveWindow() const override { return active; }
    void AddDeviceRow(const QString& label, const QString& serialNo,
                      const QString& description) override
    {
        rows.append(label + "|" + serialNo + "|" + description);
    }
    void ClearDeviceRows() override
    {
        rows.clear();
        ++clears;
    }
};

struct TUsbFixture : TWindowRig {
    regsim::FtSimVirtualClock simClock{[this] { return clock.Now() * 1000; }};
    regsim::FtSimAdapters adapters{&simClock};
    TFtCallLog log{adapters};
    IFtDriver* previousDriver = nullptr;
    regsim::Regulator sim{regsim::ParseRegulatorText(regsim::DemoRegulatorText(), "demo")};
    TVirtualReadRunner runner{clock, simClock};
    TRecordingFtBox ftBox;
    std::unique_ptr<TUsbLink> link;

    explicit TUsbFixture(int adapterCount = 1, bool earlyEnd = true)
    {
        previousDriver = FtInstallDriver(&log);
        for (int i = 0; i < adapterCount; ++i)
            adapters.AddAdapter("KX00000" + std::to_string(i + 1),
                                "Simulated FT232R " + std::to_string(i + 1),
                                i == 0 ? &sim : nullptr);
        link = std::make_unique<TUsbLink>(
            &ftBox,
            TUsbLinkOptions{earlyEnd, &runner, [this] { return simClock.NowUs() / 1000; }, {}});
        WriteSetup("[SETUP]\r\nLANGUAGE=CZ\r\n");
        dir.WriteDemoFiles();
    }
    ~TUsbFixture()
    {
        form.reset();
        link.reset();
        FtInstallDriver(previousDriver);
    }
    TMainForm& Start()
    {
        TMainFormEnv env = Env();
        env.usb = link.get();
        return StartWith(env);
    }
    bool Idle()
    {
        return Connected() && !State().busy && form->Button1->isEnabled() &&
               Cycle().PresenceTimer().Enabled() && !form->WriteUnchecked() &&
               !Cycle().UsbExchangeActive();
    }
    bool RunUntilIdle(int64_t limitMs = 10000)
    {
        return clock.AdvanceUntil([this] { return Idle(); }, limitMs);
    }
    int Count(regsim::Message m) const { return sim.Count(m); }
};
