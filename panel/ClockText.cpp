#include "ClockText.h"

namespace panel {

namespace {

bool isPatternLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// Separators and spaces between two kept fields are kept; those that only
// led into or out of a dropped field (a bracket round a zone name) go.
bool isLinkText(const QString& text)
{
    for (QChar c : text) {
        if (c == u'(' || c == u')' || c == u'[' || c == u']')
            return false;
    }
    return true;
}

} // namespace

QString DateText(const QLocale& locale, QDate date)
{
    return locale.toString(date, QLocale::ShortFormat);
}

QString TimeFormat(const QLocale& locale)
{
    const QString source = locale.timeFormat(QLocale::LongFormat);

    // Split into fields (runs of one pattern letter) and literal text, keeping
    // quoted text as it is written in the format.
    struct Piece {
        QString text;
        bool field;
    };
    QList<Piece> pieces;
    for (qsizetype i = 0; i < source.size();) {
        const QChar c = source[i];
        if (c == u'\'') {
            qsizetype end = i + 1;
            while (end < source.size()) {
                if (source[end] == u'\'') {
                    if (end + 1 < source.size() && source[end + 1] == u'\'') {
                        end += 2;
                        continue;
                    }
                    break;
                }
                ++end;
            }
            pieces.append({source.mid(i, end + 1 - i), false});
            i = end + 1;
        } else if (isPatternLetter(c)) {
            qsizetype end = i;
            while (end < source.size() && source[end] == c)
                ++end;
            QString run = source.mid(i, end - i);
            // "ap" / "AP" is one field in Qt's patterns.
            if ((c == u'a' || c == u'A') && end < source.size() &&
                (source[end] == u'p' || source[end] == u'P')) {
                run += source[end];
                ++end;
            }
            pieces.append({run, true});
            i = end;
        } else {
            qsizetype end = i;
            while (end < source.size() && source[end] != u'\'' && !isPatternLetter(source[end]))
                ++end;
            pieces.append({source.mid(i, end - i), false});
            i = end;
        }
    }

    // Map each field to what Qt 6 renders; a day-period field (B, b) becomes
    // the plain morning/afternoon marker, anything else unknown is dropped.
    QList<Piece> kept;
    bool hasMarker = false;
    for (const Piece& piece : pieces) {
        if (!piece.field) {
            kept.append(piece);
            continue;
        }
        const QChar letter = piece.text[0];
        QString mapped;
        if (letter == u'h' || letter == u'H' || letter == u'm' || letter == u's')
            mapped = piece.text.left(2);
        else if (letter == u'a' || letter == u'A' || letter == u'B' || letter == u'b')
            mapped = hasMarker ? QString() : QStringLiteral("Ap");
        if (mapped.startsWith(u'A'))
            hasMarker = true;
        if (!mapped.isEmpty())
            kept.append({mapped, true});
        else
            kept.append({QString(), true}); // a hole where a field was dropped
    }

    // Literal text survives only between two kept fields, unless it is plain
    // (no brackets) and the text sits before the first or after the last field
    // as part of the time itself, such as a trailing "Uhr".
    QString result;
    int lastKept = -1;
    for (int i = 0; i < kept.size(); ++i) {
        if (kept[i].field && !kept[i].text.isEmpty())
            lastKept = i;
    }
    bool seenField = false;
    for (int i = 0; i < kept.size(); ++i) {
        const Piece& piece = kept[i];
        if (piece.field) {
            if (!piece.text.isEmpty()) {
                result += piece.text;
                seenField = true;
            }
            continue;
        }
        const bool prevDropped = i > 0 && kept[i - 1].field && kept[i - 1].text.isEmpty();
        const bool nextDropped =
            i + 1 < kept.size() && kept[i + 1].field && kept[i + 1].text.isEmpty();
        if (prevDropped || nextDropped)
            continue; // the text around a dropped field goes with it
        if (!isLinkText(piece.text))
            continue;
        if (!seenField && piece.text.trimmed().isEmpty())
            continue;
        if (i > lastKept && piece.text.trimmed().isEmpty())
            continue;
        result += piece.text;
    }
    result = result.trimmed();
    if (!result.contains(u's')) // some regions' long format could lack seconds
        result = QStringLiteral("HH:mm:ss");
    return result;
}

QString TimeText(const QLocale& locale, QTime time)
{
    return locale.toString(time, TimeFormat(locale));
}

} // namespace panel
