#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// One block of the manual's text source, in reading order.
struct ManualBlock
{
    enum class Kind {
        Heading, // level 1 (chapter) or 2 (section); `number` is "3" or "3.2"
        Paragraph,
        Bullets, // `items`
        Steps, // numbered `items`
        Note, // a boxed hint
        Figure, // `image` file name, `text` caption
        Table // `rows`, the first one is the header
    };

    Kind kind = Kind::Paragraph;
    int level = 0;
    QString number;
    QString text;
    QString image;
    QStringList items;
    QVector<QStringList> rows;
};

// The manual's text source: a small Markdown-like language that a writer edits as plain text.
//   % title            %% subtitle
//   # chapter          ## section          (numbered automatically)
//   paragraph lines    - bullet            1. step
//   > note             ![caption](file.png)
//   | table | row |    (the second row, made of dashes, separates the header)
// Inline: **bold** and `code`.
class ManualSource
{
public:
    static ManualSource fromText(const QString& text);

    QString title() const { return m_title; }
    QString subtitle() const { return m_subtitle; }
    const QVector<ManualBlock>& blocks() const { return m_blocks; }
    QVector<ManualBlock> headings() const;
    QStringList imageNames() const;

private:
    QString m_title;
    QString m_subtitle;
    QVector<ManualBlock> m_blocks;
};

// Escapes the text for HTML and turns **bold** and `code` into markup.
QString manualInlineHtml(const QString& text);
