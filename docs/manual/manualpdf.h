#pragma once

#include <QFont>
#include <QImage>
#include <QString>
#include <QVector>

#include "manualsource.h"

class QPainter;
class QTextDocument;

// Lays the manual out on A4 pages and writes it as a PDF: a title page, a table of contents, then the
// chapters with a running header, page numbers and the program's screenshots.
class ManualPdf
{
public:
    struct Options
    {
        QString fontFamily; // the CJK face
        QString latinFamily; // Latin letters and digits; empty leaves them to the CJK face
        QString monoFamily;
        QString shotsDir; // screenshots named by the figures; a missing one leaves its figure out
        QImage icon; // drawn on the title page when it is a real picture
        QString version;
    };

    ManualPdf(const ManualSource& source, const Options& options);

    // Writes the PDF; on failure returns false with the reason in `error`.
    bool write(const QString& path, QString* error) const;

    // Figures whose screenshot was missing at the last write.
    QStringList missingImages() const { return m_missing; }

private:
    struct TocEntry
    {
        int level;
        QString text;
        int page; // 1-based physical page
    };

    QString bodyHtml(QTextDocument& doc, double textWidth) const;
    static void keepWithNext(QTextDocument& doc);
    void drawTitlePage(QPainter& painter) const;
    void drawTocPage(QPainter& painter, const QVector<TocEntry>& entries, int first, int count) const;
    void drawRunningHeader(QPainter& painter, const QString& chapter, int page) const;
    QImage screenshot(const QString& name) const;
    QFont font(double points, bool bold = false) const;

    ManualSource m_source;
    Options m_options;
    mutable QStringList m_missing;
};
