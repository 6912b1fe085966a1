#pragma once
// The window as the cycle draws it, kept as plain values: for the fuzz targets, the benchmarks and
// tests that need a view but look at little of it.

#include "protocol/cycle.h"

class TPlainView : public ICycleView {
public:
    TBlockFields fields;
    TRegulatorIdentity identity;
    bool identified = false, connected = false, buttons = false, eeprom = false, controls = false;
    int errors = 0, reports = 0;
    QString hint;

    TBlockFields Fields() const override { return fields; }
    void ShowFields(const TBlockFields& f) override { fields = f; }
    void ShowIdentity(const TRegulatorIdentity* id) override
    {
        identified = id != nullptr;
        identity = id ? *id : TRegulatorIdentity{};
        if (id)
            eeprom = id->KeepsLog();
    }
    void ShowConnected(bool on) override { connected = on; }
    void ShowReplyBuffer(const QString&) override {}
    void SetProgress(int, int) override {}
    void SetTransferButtonsEnabled(bool on) override { buttons = on; }
    void SetRegulatorControlsEnabled(bool on) override { controls = on; }
    void ShowError(const QString&) override { ++errors; }
    void ReportError(const QString&) override { ++reports; }
    void ShowProgressHint(const QString& text) override { hint = text; }
};
