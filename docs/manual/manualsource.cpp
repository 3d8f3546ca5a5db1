#include "manualsource.h"

#include <QRegularExpression>

namespace {

// Chinese lines of one paragraph join without a space; Latin words need one.
void appendLine(QString& paragraph, const QString& line)
{
    if (paragraph.isEmpty()) {
        paragraph = line;
        return;
    }
    const bool wide = paragraph.back().unicode() > 0x2e80 || line.front().unicode() > 0x2e80;
    paragraph += wide ? line : QLatin1Char(' ') + line;
}

QStringList tableCells(const QString& line)
{
    QString inner = line.trimmed();
    inner = inner.mid(1);
    if (inner.endsWith(QLatin1Char('|'))) {
        inner.chop(1);
    }
    QStringList cells = inner.split(QLatin1Char('|'));
    for (QString& c : cells) {
        c = c.trimmed();
    }
    return cells;
}

bool isSeparatorRow(const QString& line)
{
    static const QRegularExpression separator(QStringLiteral("^\\|[\\s|:-]+\\|?$"));
    return separator.match(line.trimmed()).hasMatch() && line.contains(QLatin1Char('-'));
}

} // namespace

ManualSource ManualSource::fromText(const QString& text)
{
    static const QRegularExpression stepLine(QStringLiteral("^\\d+\\.\\s+(.*)$"));
    static const QRegularExpression figureLine(QStringLiteral("^!\\[(.*)\\]\\((.+)\\)$"));

    ManualSource source;
    ManualBlock current;
    bool open = false;
    int chapter = 0;
    int section = 0;

    auto close = [&]() {
        if (open) {
            source.m_blocks.append(current);
        }
        current = ManualBlock();
        open = false;
    };
    auto start = [&](ManualBlock::Kind kind) {
        if (!open || current.kind != kind) {
            close();
            current.kind = kind;
            open = true;
        }
    };

    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString& raw : lines) {
        const QString line = raw.trimmed();
        if (line.isEmpty()) {
            close();
            continue;
        }
        if (line.startsWith(QLatin1String("%% "))) {
            close();
            source.m_subtitle = line.mid(3).trimmed();
        } else if (line.startsWith(QLatin1String("% "))) {
            close();
            source.m_title = line.mid(2).trimmed();
        } else if (line.startsWith(QLatin1String("## ")) || line.startsWith(QLatin1String("# "))) {
            close();
            ManualBlock heading;
            heading.kind = ManualBlock::Kind::Heading;
            heading.level = line.startsWith(QLatin1String("## ")) ? 2 : 1;
            if (heading.level == 1) {
                ++chapter;
                section = 0;
                heading.number = QString::number(chapter);
            } else {
                ++section;
                heading.number = QStringLiteral("%1.%2").arg(chapter).arg(section);
            }
            heading.text = line.mid(heading.level + 1).trimmed();
            source.m_blocks.append(heading);
        } else if (line.startsWith(QLatin1String("- "))) {
            start(ManualBlock::Kind::Bullets);
            current.items.append(line.mid(2).trimmed());
        } else if (stepLine.match(line).hasMatch()) {
            start(ManualBlock::Kind::Steps);
            current.items.append(stepLine.match(line).captured(1).trimmed());
        } else if (line.startsWith(QLatin1String("> "))) {
            start(ManualBlock::Kind::Note);
            appendLine(current.text, line.mid(2).trimmed());
        } else if (figureLine.match(line).hasMatch()) {
            close();
            const auto match = figureLine.match(line);
            ManualBlock figure;
            figure.kind = ManualBlock::Kind::Figure;
            figure.text = match.captured(1).trimmed();
            figure.image = match.captured(2).trimmed();
            source.m_blocks.append(figure);
        } else if (line.startsWith(QLatin1Char('|'))) {
            start(ManualBlock::Kind::Table);
            if (!isSeparatorRow(line)) {
                current.rows.append(tableCells(line));
            }
        } else if (open && (current.kind == ManualBlock::Kind::Bullets || current.kind == ManualBlock::Kind::Steps)) {
            // An indented continuation of the last list item.
            appendLine(current.items.last(), line);
        } else {
            start(ManualBlock::Kind::Paragraph);
            appendLine(current.text, line);
        }
    }
    close();
    return source;
}

QVector<ManualBlock> ManualSource::headings() const
{
    QVector<ManualBlock> result;
    for (const ManualBlock& block : m_blocks) {
        if (block.kind == ManualBlock::Kind::Heading) {
            result.append(block);
        }
    }
    return result;
}

QStringList ManualSource::imageNames() const
{
    QStringList names;
    for (const ManualBlock& block : m_blocks) {
        if (block.kind == ManualBlock::Kind::Figure) {
            names.append(block.image);
        }
    }
    return names;
}

QString manualInlineHtml(const QString& text)
{
    QString html;
    bool bold = false;
    bool code = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('`')) {
            html += code ? QStringLiteral("</span>") : QStringLiteral("<span class=\"code\">");
            code = !code;
        } else if (!code && c == QLatin1Char('*') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('*')) {
            html += bold ? QStringLiteral("</b>") : QStringLiteral("<b>");
            bold = !bold;
            ++i;
        } else if (c == QLatin1Char('<')) {
            html += QStringLiteral("&lt;");
        } else if (c == QLatin1Char('>')) {
            html += QStringLiteral("&gt;");
        } else if (c == QLatin1Char('&')) {
            html += QStringLiteral("&amp;");
        } else if (c == QLatin1Char('"')) {
            html += QStringLiteral("&quot;");
        } else {
            html += c;
        }
    }
    // An unclosed mark must not swallow the rest of the document.
    if (code) {
        html += QStringLiteral("</span>");
    }
    if (bold) {
        html += QStringLiteral("</b>");
    }
    return html;
}
