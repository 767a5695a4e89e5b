#include "app/ui/document_printer.h"

#include <stdexcept>

#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QPrinter>
#include <QTextDocument>

// The document is laid out in points on the printer's paintable area, so a
// 9-point text is 9 points on paper at any printer resolution.
void PrintHtml(const QString& html, QPrinter& printer) {
    QTextDocument document;
    QFont font;
    font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(9);
    document.setDefaultFont(font);
    document.setHtml(html);
    document.setPageSize(printer.pageLayout().paintRectPoints().size());
    document.print(&printer);
}

void WritePdf(const QString& html, const QString& fileName, const QPageSize& pageSize) {
    // A file left from before must not pass for this one.
    QFile::remove(fileName);
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(fileName);
    printer.setPageSize(pageSize);
    printer.setPageMargins(QMarginsF(4, 4, 4, 4), QPageLayout::Millimeter);
    PrintHtml(html, printer);
    if (!QFileInfo(fileName).isFile() || QFileInfo(fileName).size() == 0)
        throw std::runtime_error(("No se pudo guardar el PDF " + fileName).toStdString());
}
