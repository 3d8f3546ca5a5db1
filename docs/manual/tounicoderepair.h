#pragma once

#include <QByteArray>
#include <QFont>
#include <QHash>
#include <QList>
#include <QString>

class QRawFont;

// Qt's PDF writer maps every glyph back to the lowest code point that uses it. CJK fonts draw a Kangxi
// radical (U+2F64) and its ideograph (U+7528 "用") with one glyph, and a tab with the space's glyph, so
// copying or searching the text of the PDF would find the radical or a tab. This rewrites those entries of
// the ToUnicode maps to the character a reader sees.
class ToUnicodeRepair
{
public:
    explicit ToUnicodeRepair(const QList<QFont>& fonts);

    // Number of code points that have a better one to stand for them.
    int size() const { return m_replacement.size(); }
    uint replacementFor(uint codePoint) const { return m_replacement.value(codePoint, codePoint); }

    // Rewrites the uncompressed ToUnicode streams in place, keeping every byte offset; returns the number of
    // entries changed.
    int repair(QByteArray& pdf) const;

private:
    void addReplacements(const QRawFont& font, const QString& from, const QString& to);
    int repairStream(char* begin, char* end) const;

    QHash<uint, uint> m_replacement;
};
