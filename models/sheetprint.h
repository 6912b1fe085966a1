#pragma once
// The settings sheet on pages: laid out by Qt's rich text from the sheet's HTML, printed on a
// printer the caller has set up or written as a PDF through Qt's PDF writer. Needs a
// QGuiApplication (fonts); no widgets.

#include <QByteArray>
#include <QString>

class QPagedPaintDevice;
struct TSettingsSheet;

// On the pages of a device as it is set up (a printer: as the print dialog left it).
void PrintSheet(const TSettingsSheet& sheet, QPagedPaintDevice& device);
// The sheet as a PDF document on A4, with margins a workshop's printer keeps clear.
QByteArray SheetPdf(const TSettingsSheet& sheet, const QString& creator);
