#pragma once
// The demo regulator read into a shown, active main window in one of the shipped languages, with
// the shipped language and model files of Czech, English and German in its program folder.

#include "tests/support/cyclefixture.h"

#include <QApplication>

inline const char* const kShippedLanguages[] = {"CZ", "EN", "GE"};

struct TShownWindow : TCycleFixture {
    explicit TShownWindow(const char* code)
    {
        for (const char* lang : kShippedLanguages) {
            dir.Write(QStringLiteral("Languages/%1.ini").arg(lang),
                      SourceFile(QStringLiteral("data/Languages/%1.ini").arg(lang)));
            dir.Write(QStringLiteral("Regulators/%1/KVX-40 OPTO.ini").arg(lang),
                      SourceFile(QStringLiteral("data/Regulators/%1/KVX-40 OPTO.ini").arg(lang)));
        }
        WriteSetup(QByteArray("[SETUP]\r\nDEVICE=COM\r\nCOM=SIM\r\nLANGUAGE=") + code + "\r\n");
        Connect();
        form->show();
        QApplication::setActiveWindow(form.get());
        connected = RunUntilIdle();
    }
    bool connected = false;
};
