#include "manualpdf.h"

#include <cmath>
#include <cstdio>

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QFile>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>
#include <QTextDocument>
#include <QUrl>

#include "tounicoderepair.h"

namespace {

constexpr int dpi = 300;
constexpr double screenDpi = 96.0;

double mm(double millimetres)
{
    return millimetres * dpi / 25.4;
}

const QSizeF pageSize = QPageSize(QPageSize::A4).sizePixels(dpi);
const double marginLeft = mm(20);
const double marginRight = mm(20);
const double marginTop = mm(27);
const double marginBottom = mm(24);
const QSizeF bodySize(pageSize.width() - marginLeft - marginRight, pageSize.height() - marginTop - marginBottom);

const QColor blue(0x25, 0x63, 0xeb);
const QColor darkBlue(0x1e, 0x40, 0xaf);
const QColor grey(0x6b, 0x72, 0x80);

// Screenshots are taken at 96 pixels per inch; shown a little smaller than life, they stay sharp.
constexpr double screenshotScale = dpi / screenDpi * 0.85;

QString headingLabel(const ManualBlock& heading)
{
    return heading.number + QStringLiteral("\u3000") + heading.text;
}

} // namespace

ManualPdf::ManualPdf(const ManualSource& source, const Options& options) : m_source(source), m_options(options) { }

QFont ManualPdf::font(double points, bool bold) const
{
    // Latin letters and digits come from a Latin face: the CJK face substitutes some of its Latin glyphs
    // in a way that leaves them out of the PDF's text layer.
    QFont result;
    QStringList families;
    if (!m_options.latinFamily.isEmpty()) {
        families.append(m_options.latinFamily);
    }
    families.append(m_options.fontFamily);
    result.setFamilies(families);
    result.setPointSizeF(points);
    result.setBold(bold);
    return result;
}

QImage ManualPdf::screenshot(const QString& name) const
{
    if (m_options.shotsDir.isEmpty()) {
        return QImage();
    }
    return QImage(QDir(m_options.shotsDir).filePath(name));
}

QString ManualPdf::bodyHtml(QTextDocument& doc, double textWidth) const
{
    QString html;
    int figure = 0;
    bool firstChapter = true;
    m_missing.clear();
    for (const ManualBlock& block : m_source.blocks()) {
        switch (block.kind) {
        case ManualBlock::Kind::Heading:
            if (block.level == 1) {
                // Every chapter but the first starts a page; the first one already does.
                html += firstChapter ? QStringLiteral("<h1>")
                                     : QStringLiteral("<h1 style=\"page-break-before: always\">");
                firstChapter = false;
                html += manualInlineHtml(headingLabel(block)) + QStringLiteral("</h1>");
            } else {
                html += QStringLiteral("<h2>") + manualInlineHtml(headingLabel(block)) + QStringLiteral("</h2>");
            }
            break;
        case ManualBlock::Kind::Paragraph:
            html += QStringLiteral("<p>") + manualInlineHtml(block.text) + QStringLiteral("</p>");
            break;
        case ManualBlock::Kind::Bullets:
        case ManualBlock::Kind::Steps: {
            const bool steps = block.kind == ManualBlock::Kind::Steps;
            html += steps ? QStringLiteral("<ol>") : QStringLiteral("<ul>");
            for (const QString& item : block.items) {
                html += QStringLiteral("<li>") + manualInlineHtml(item) + QStringLiteral("</li>");
            }
            html += steps ? QStringLiteral("</ol>") : QStringLiteral("</ul>");
            break;
        }
        case ManualBlock::Kind::Note:
            html += QStringLiteral("<table class=\"note\" width=\"100%\" cellpadding=\"24\" cellspacing=\"0\"><tr><td>"
                                   "<b>提示　</b>")
                + manualInlineHtml(block.text) + QStringLiteral("</td></tr></table>");
            break;
        case ManualBlock::Kind::Table: {
            html += QStringLiteral("<table class=\"grid\" width=\"100%\" border=\"1\" cellpadding=\"16\" "
                                   "cellspacing=\"0\">");
            for (int r = 0; r < block.rows.size(); ++r) {
                html += r == 0 ? QStringLiteral("<tr class=\"head\">") : QStringLiteral("<tr>");
                for (const QString& cell : block.rows.at(r)) {
                    html += (r == 0 ? QStringLiteral("<th>") : QStringLiteral("<td>")) + manualInlineHtml(cell)
                        + (r == 0 ? QStringLiteral("</th>") : QStringLiteral("</td>"));
                }
                html += QStringLiteral("</tr>");
            }
            html += QStringLiteral("</table>");
            break;
        }
        case ManualBlock::Kind::Figure: {
            const QImage image = screenshot(block.image);
            if (image.isNull()) {
                m_missing.append(block.image);
                break;
            }
            ++figure;
            double width = std::min(textWidth * 0.96, image.width() * screenshotScale);
            double height = width * image.height() / image.width();
            const double maxHeight = bodySize.height() * 0.36;
            if (height > maxHeight) {
                width *= maxHeight / height;
                height = maxHeight;
            }
            const QUrl url(QStringLiteral("shot:") + block.image);
            doc.addResource(QTextDocument::ImageResource, url, image);
            // The document reads image sizes as screen pixels and scales them to the PDF's resolution itself.
            html += QStringLiteral(
                "<p class=\"figure\" align=\"center\"><img src=\"%1\" width=\"%2\" height=\"%3\"></p>")
                        .arg(url.toString())
                        .arg(std::lround(width * screenDpi / dpi))
                        .arg(std::lround(height * screenDpi / dpi));
            html += QStringLiteral("<p class=\"caption\" align=\"center\">图 %1　%2</p>")
                        .arg(figure)
                        .arg(manualInlineHtml(block.text));
            break;
        }
        }
    }
    return html;
}

void ManualPdf::keepWithNext(QTextDocument& doc)
{
    // A heading or a picture at the foot of a page whose next block starts on the following page moves
    // there too, so no heading is left alone and no caption is parted from its picture. Each move can push
    // later blocks on, hence the passes.
    QAbstractTextDocumentLayout* layout = doc.documentLayout();
    auto pageOf = [&](const QTextBlock& block) {
        const double top = layout->blockBoundingRect(block).top();
        const double firstLine = block.layout() && block.layout()->lineCount() > 0 ? block.layout()->lineAt(0).y() : 0;
        return static_cast<int>((top + firstLine) / bodySize.height());
    };
    for (int pass = 0; pass < 20; ++pass) {
        // Positions are only final once the whole document is laid out; the layout is otherwise lazy.
        doc.pageCount();
        bool moved = false;
        for (QTextBlock block = doc.begin(); block.isValid() && block.next().isValid(); block = block.next()) {
            const bool heading = block.blockFormat().headingLevel() > 0;
            const bool picture = block.text().contains(QChar::ObjectReplacementCharacter);
            if (!(heading || picture) || block.blockFormat().pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore
                || pageOf(block) == pageOf(block.next())) {
                continue;
            }
            QTextBlockFormat format;
            format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
            QTextCursor(block).mergeBlockFormat(format);
            moved = true;
            break;
        }
        if (!moved) {
            return;
        }
    }
}

bool ManualPdf::write(const QString& path, QString* error) const
{
    {
        QPdfWriter writer(path);
        writer.setResolution(dpi);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        writer.setTitle(m_source.title());
        writer.setCreator(QStringLiteral("Movanta"));

        QTextDocument doc;
        doc.documentLayout()->setPaintDevice(&writer);
        doc.setDocumentMargin(0);
        doc.setDefaultFont(font(10.5));
        doc.setDefaultStyleSheet(
            QStringLiteral("h1 { font-size: 20pt; color: #1E3A8A; margin-bottom: 18pt; }"
                           "h2 { font-size: 14pt; color: #2563EB; margin-top: 22pt; margin-bottom: 8pt; }"
                           "p { margin-top: 0; margin-bottom: 10pt; line-height: 150%; }"
                           "li { margin-bottom: 5pt; line-height: 140%; }"
                           "ul, ol { margin-bottom: 8pt; }"
                           ".code { font-family: '%1'; color: #1F2937; background-color: #F3F4F6; }"
                           ".note { background-color: #EFF6FF; margin-top: 4pt; margin-bottom: 12pt; border: 0; }"
                           ".grid { border-color: #D1D5DB; border-style: solid; margin-top: 4pt; margin-bottom: "
                           "12pt; }"
                           ".head { background-color: #E5E7EB; }"
                           "th { text-align: left; }"
                           ".figure { margin-top: 10pt; margin-bottom: 4pt; line-height: 100%; }"
                           ".caption { color: #6B7280; font-size: 9pt; margin-bottom: 14pt; }")
                .arg(m_options.monoFamily));
        doc.setPageSize(bodySize);
        doc.setHtml(bodyHtml(doc, bodySize.width()));
        doc.setPageSize(bodySize);
        keepWithNext(doc);
        doc.pageCount();

        // Where each heading landed decides the table of contents and the running header.
        QVector<TocEntry> toc;
        const QVector<ManualBlock> headings = m_source.headings();
        int next = 0;
        for (QTextBlock block = doc.begin(); block.isValid() && next < headings.size(); block = block.next()) {
            if (block.blockFormat().headingLevel() == 0) {
                continue;
            }
            const double top = doc.documentLayout()->blockBoundingRect(block).top();
            toc.append(
                {headings.at(next).level, headingLabel(headings.at(next)), static_cast<int>(top / bodySize.height())});
            ++next;
        }

        const int bodyPages = doc.pageCount();
        const QFont tocFont = font(11);
        const double tocLine = QFontMetricsF(tocFont, &writer).height() * 1.9;
        const int tocPerPage = std::max(1, static_cast<int>((bodySize.height() - mm(25)) / tocLine));
        const int tocPages = (toc.size() + tocPerPage - 1) / tocPerPage;
        const int firstBodyPage = 2 + tocPages;
        for (TocEntry& entry : toc) {
            entry.page += firstBodyPage;
        }

        QPainter painter;
        if (!painter.begin(&writer)) {
            *error = QStringLiteral("cannot write %1").arg(path);
            return false;
        }
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);

        drawTitlePage(painter);
        for (int i = 0; i < tocPages; ++i) {
            writer.newPage();
            drawTocPage(painter, toc, i * tocPerPage, tocPerPage);
            drawRunningHeader(painter, QStringLiteral("目录"), 2 + i);
        }
        QString chapter;
        for (int page = 0; page < bodyPages; ++page) {
            writer.newPage();
            const int physical = firstBodyPage + page;
            for (const TocEntry& entry : toc) {
                if (entry.level == 1 && entry.page <= physical) {
                    chapter = entry.text;
                }
            }
            drawRunningHeader(painter, chapter, physical);
            painter.save();
            painter.translate(marginLeft, marginTop - page * bodySize.height());
            doc.drawContents(&painter, QRectF(QPointF(0, page * bodySize.height()), bodySize));
            painter.restore();
        }
        painter.end();
    }

    // Make the text that readers copy and search match what they see.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read back %1").arg(path);
        return false;
    }
    QByteArray pdf = file.readAll();
    file.close();
    const ToUnicodeRepair repair(
        {font(10.5), font(10.5, true), QFont(m_options.latinFamily), QFont(m_options.monoFamily)});
    repair.repair(pdf);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(pdf) != pdf.size()) {
        *error = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    return true;
}

void ManualPdf::drawTitlePage(QPainter& painter) const
{
    const double band = pageSize.height() * 0.42;
    QLinearGradient gradient(0, 0, pageSize.width(), band);
    gradient.setColorAt(0, blue);
    gradient.setColorAt(1, darkBlue);
    painter.fillRect(QRectF(0, 0, pageSize.width(), band), gradient);

    double textTop = mm(45);
    if (m_options.icon.width() >= 32) {
        const QRectF iconRect(marginLeft, mm(30), mm(30), mm(30));
        painter.drawImage(iconRect, m_options.icon);
        textTop = iconRect.bottom() + mm(12);
    }

    painter.setPen(Qt::white);
    const QFont title = font(40, true);
    painter.setFont(title);
    const QString name = m_source.title();
    QFontMetricsF metrics(title, painter.device());
    painter.drawText(QPointF(marginLeft, textTop + metrics.ascent()), name);
    textTop += metrics.height() + mm(6);

    const QFont subtitle = font(16);
    painter.setFont(subtitle);
    QFontMetricsF subMetrics(subtitle, painter.device());
    painter.drawText(QPointF(marginLeft, textTop + subMetrics.ascent()), m_source.subtitle());

    // The first thing the user will see of the program.
    const QImage chooser = screenshot(QStringLiteral("chooser.png"));
    double y = band + mm(18);
    if (!chooser.isNull()) {
        double width = pageSize.width() - marginLeft - marginRight - mm(30);
        double height = width * chooser.height() / chooser.width();
        const double maxHeight = pageSize.height() - y - mm(45);
        if (height > maxHeight) {
            width *= maxHeight / height;
            height = maxHeight;
        }
        const QRectF shot((pageSize.width() - width) / 2, y, width, height);
        painter.fillRect(shot.translated(mm(1.2), mm(1.2)), QColor(0, 0, 0, 40));
        painter.drawImage(shot, chooser);
        painter.setPen(QPen(QColor(0xd1, 0xd5, 0xdb), mm(0.3)));
        painter.drawRect(shot);
    }

    const QFont small = font(10);
    painter.setFont(small);
    painter.setPen(grey);
    const QRectF footer(marginLeft, pageSize.height() - mm(30), bodySize.width(), mm(12));
    painter.drawText(footer, Qt::AlignHCenter | Qt::AlignTop,
        QStringLiteral("适用于 Movanta %1　·　新电脑与旧电脑上使用同一个程序").arg(m_options.version));
}

void ManualPdf::drawTocPage(QPainter& painter, const QVector<TocEntry>& entries, int first, int count) const
{
    const QFont heading = font(20, true);
    painter.setFont(heading);
    painter.setPen(QColor(0x1e, 0x3a, 0x8a));
    QFontMetricsF headingMetrics(heading, painter.device());
    double y = marginTop + headingMetrics.ascent();
    painter.drawText(QPointF(marginLeft, y), QStringLiteral("目录"));
    y += mm(14);

    const QFont chapterFont = font(11, true);
    const QFont sectionFont = font(11);
    const double line = QFontMetricsF(sectionFont, painter.device()).height() * 1.9;

    for (int i = first; i < entries.size() && i < first + count; ++i) {
        const TocEntry& entry = entries.at(i);
        const bool chapter = entry.level == 1;
        painter.setFont(chapter ? chapterFont : sectionFont);
        painter.setPen(chapter ? QColor(0x11, 0x18, 0x27) : QColor(0x37, 0x41, 0x51));
        QFontMetricsF metrics(painter.font(), painter.device());
        const double indent = chapter ? 0 : mm(8);
        const QString number = QString::number(entry.page);
        const double numberWidth = metrics.horizontalAdvance(number);
        const double right = marginLeft + bodySize.width();
        painter.drawText(QPointF(marginLeft + indent, y), entry.text);
        painter.drawText(QPointF(right - numberWidth, y), number);
        // Dotted leader between the title and its page number.
        const double from = marginLeft + indent + metrics.horizontalAdvance(entry.text) + mm(3);
        const double to = right - numberWidth - mm(3);
        painter.setPen(QPen(QColor(0x9c, 0xa3, 0xaf), mm(0.35), Qt::DotLine));
        if (to > from) {
            painter.drawLine(QPointF(from, y - mm(0.6)), QPointF(to, y - mm(0.6)));
        }
        y += line;
    }
}

void ManualPdf::drawRunningHeader(QPainter& painter, const QString& chapter, int page) const
{
    const QFont small = font(8.5);
    painter.setFont(small);
    painter.setPen(grey);
    const double baseline = marginTop - mm(10);
    painter.drawText(QPointF(marginLeft, baseline), m_source.title());
    QFontMetricsF metrics(small, painter.device());
    painter.drawText(QPointF(marginLeft + bodySize.width() - metrics.horizontalAdvance(chapter), baseline), chapter);
    painter.setPen(QPen(QColor(0xd1, 0xd5, 0xdb), mm(0.25)));
    painter.drawLine(
        QPointF(marginLeft, baseline + mm(2.5)), QPointF(marginLeft + bodySize.width(), baseline + mm(2.5)));

    painter.setPen(grey);
    const QRectF footer(marginLeft, pageSize.height() - marginBottom + mm(10), bodySize.width(), mm(8));
    painter.drawText(footer, Qt::AlignHCenter | Qt::AlignTop, QString::number(page));
}
