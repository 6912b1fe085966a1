#include "models/sheetprint.h"

#include "models/settingssheet.h"

#include <QBuffer>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>

namespace {

constexpr qreal kMarginMm = 15;
constexpr qreal kFontPoints = 10;
// The PDF writer's own resolution is far more than text needs; this keeps the layout's pixel
// measures (cell padding, borders) in proportion to the paper.
constexpr int kPdfResolution = 300;

} // namespace

void PrintSheet(const TSettingsSheet& sheet, QPagedPaintDevice& device)
{
    QTextDocument doc;
    QFont font = doc.defaultFont();
    font.setPointSizeF(kFontPoints);
    doc.setDefaultFont(font);
    doc.setHtml(SheetHtml(sheet));
    doc.setMetaInformation(QTextDocument::DocumentTitle, sheet.title);
    // Laid out on the device's pages, page numbers at the foot when there are several.
    doc.print(&device);
}

QByteArray SheetPdf(const TSettingsSheet& sheet, const QString& creator)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(kPdfResolution);
        writer.setTitle(sheet.title);
        writer.setCreator(creator);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                         QMarginsF(kMarginMm, kMarginMm, kMarginMm, kMarginMm),
                                         QPageLayout::Millimeter));
        PrintSheet(sheet, writer);
    } // the writer finishes the document as it goes
    return buffer.data();
}
