#include "tounicoderepair.h"

#include <algorithm>

#include <QRawFont>
#include <QVector>

namespace {

bool isHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

QString codePoints(uint first, uint last)
{
    QString text;
    for (uint cp = first; cp <= last; ++cp) {
        text += QChar(static_cast<ushort>(cp));
    }
    return text;
}

} // namespace

ToUnicodeRepair::ToUnicodeRepair(const QList<QFont>& fonts)
{
    // Kangxi radicals stand for the ideographs they share a glyph with; control characters (a tab shares
    // the space's glyph) for the printable ASCII character with their glyph.
    const QString radicals = codePoints(0x2e80, 0x2fdf);
    const QString controls = codePoints(0x01, 0x1f);
    // Extension A first, then the unified block: the later, common form wins.
    const QString ideographs = codePoints(0x3400, 0x4dbf) + codePoints(0x4e00, 0x9fff);
    const QString printable = codePoints(0x20, 0x7e);

    for (const QFont& font : fonts) {
        const QRawFont raw = QRawFont::fromFont(font);
        if (!raw.isValid()) {
            continue;
        }
        addReplacements(raw, radicals, ideographs);
        addReplacements(raw, controls, printable);
    }
}

void ToUnicodeRepair::addReplacements(const QRawFont& font, const QString& from, const QString& to)
{
    QHash<quint32, uint> targetByGlyph;
    const QVector<quint32> targetGlyphs = font.glyphIndexesForString(to);
    for (int i = 0; i < targetGlyphs.size() && i < to.size(); ++i) {
        if (targetGlyphs.at(i) != 0) {
            targetByGlyph.insert(targetGlyphs.at(i), to.at(i).unicode());
        }
    }
    const QVector<quint32> fromGlyphs = font.glyphIndexesForString(from);
    for (int i = 0; i < fromGlyphs.size() && i < from.size(); ++i) {
        const auto found = targetByGlyph.constFind(fromGlyphs.at(i));
        if (fromGlyphs.at(i) != 0 && found != targetByGlyph.constEnd()) {
            m_replacement.insert(from.at(i).unicode(), found.value());
        }
    }
}

int ToUnicodeRepair::repair(QByteArray& pdf) const
{
    // The file holds binary font data, so it is searched as bytes, never as text.
    const QByteArray key("/ToUnicode ");
    int changed = 0;
    for (int at = pdf.indexOf(key); at >= 0; at = pdf.indexOf(key, at + key.size())) {
        const int numberEnd = pdf.indexOf(' ', at + key.size());
        if (numberEnd < 0) {
            break;
        }
        const QByteArray header = "\n" + pdf.mid(at + key.size(), numberEnd - at - key.size()) + " 0 obj";
        const int object = pdf.indexOf(header);
        if (object < 0) {
            continue;
        }
        const int stream = pdf.indexOf("stream", object);
        const int end = pdf.indexOf("endstream", stream);
        // A compressed map cannot be patched in place; Qt writes these maps uncompressed.
        if (stream < 0 || end < 0 || pdf.mid(object, stream - object).contains("/Filter")) {
            continue;
        }
        changed += repairStream(pdf.data() + stream, pdf.data() + end);
    }
    return changed;
}

int ToUnicodeRepair::repairStream(char* begin, char* end) const
{
    // Only destinations change: the second value of a bfchar line, the third of a bfrange line, or
    // every value of a bfrange array. Source codes are glyph numbers and stay.
    enum class Section { Other, Char, Range };
    Section section = Section::Other;
    int changed = 0;
    char* line = begin;
    while (line < end) {
        char* lineEnd = std::find(line, end, '\n');
        const QByteArray text(line, static_cast<int>(lineEnd - line));
        if (text.contains("beginbfchar")) {
            section = Section::Char;
        } else if (text.contains("beginbfrange")) {
            section = Section::Range;
        } else if (text.contains("endbfchar") || text.contains("endbfrange")) {
            section = Section::Other;
        } else if (section != Section::Other) {
            const int firstDestination = section == Section::Char ? 1 : 2;
            const bool array = text.contains('[');
            int token = 0;
            bool inArray = false;
            for (char* p = line; p + 6 <= lineEnd; ++p) {
                if (*p == '[') {
                    inArray = true;
                }
                if (p[0] != '<' || p[5] != '>' || !isHex(p[1]) || !isHex(p[2]) || !isHex(p[3]) || !isHex(p[4])) {
                    continue;
                }
                const bool destination = array ? inArray : token >= firstDestination;
                ++token;
                const uint value = QByteArray(p + 1, 4).toUInt(nullptr, 16);
                const uint replacement = replacementFor(value);
                if (destination && replacement != value) {
                    const QByteArray hex = QByteArray::number(replacement, 16).toUpper().rightJustified(4, '0');
                    std::copy(hex.begin(), hex.end(), p + 1);
                    ++changed;
                }
                p += 5;
            }
        }
        line = lineEnd + 1;
    }
    return changed;
}
