// The till's documents on paper: rich text laid out for the system's
// printer or written to a PDF file.
#pragma once

#include <QPageSize>
#include <QString>

class QPrinter;

void PrintHtml(const QString& html, QPrinter& printer);

// Throws std::runtime_error "No se pudo guardar el PDF ..." when the file
// cannot be written.
void WritePdf(const QString& html, const QString& fileName, const QPageSize& pageSize);
