#include "ClockText.h"

namespace panel
{

namespace
{

bool isPatternLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
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

    // Keep the fields Qt renders; a day-period field (B, b), which Qt 6.4 does
    // not know, becomes the plain morning/afternoon marker; time-zone names
    // and anything else are dropped with the brackets that held them.
    QString result;
    QString literal; // unquoted text since the last kept piece
    auto flushLiteral = [&result, &literal] {
        literal.remove(QStringLiteral("[]"));
        literal.remove(QStringLiteral("()"));
        while (literal.contains(QStringLiteral("  ")))
            literal.replace(QStringLiteral("  "), QStringLiteral(" "));
        result += literal;
        literal.clear();
    };
    for (const Piece& piece : pieces) {
        if (!piece.field) {
            if (piece.text.startsWith(u'\'')) {
                flushLiteral();
                result += piece.text;
            } else {
                literal += piece.text;
            }
            continue;
        }
        const QChar letter = piece.text[0];
        QString kept;
        if (letter == u'h' || letter == u'H' || letter == u'm' || letter == u's')
            kept = piece.text.left(2);
        else if (letter == u'a' || letter == u'A')
            kept = piece.text;
        else if (letter == u'B' || letter == u'b')
            kept = QStringLiteral("AP");
        if (kept.isEmpty())
            continue;
        flushLiteral();
        result += kept;
    }
    flushLiteral();
    result = result.trimmed();
    if (!result.contains(u's')) // a long format without seconds is no clock
        result = QStringLiteral("HH:mm:ss");
    return result;
}

QString TimeText(const QLocale& locale, QTime time)
{
    return locale.toString(time, TimeFormat(locale));
}

} // namespace panel
