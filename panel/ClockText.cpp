// SPDX-License-Identifier: MIT
#include "panel/ClockText.h"

#include <algorithm>
#include <QFontMetrics>

namespace panel
{

namespace
{

bool isPatternLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// The locale's long time format reduced to the fields the label shows.
QString timeFormat(const QLocale& locale)
{
    const QString source = locale.timeFormat(QLocale::LongFormat);

    // Fields are runs of one pattern letter. Those Qt renders are kept; a
    // day-period field (B, b), which Qt 6.4 does not know, becomes the plain
    // morning/afternoon marker; time-zone names and anything else are dropped
    // with the brackets that held them. Quoted text stays as written.
    QString result;
    QString literal; // unquoted text since the last kept piece
    bool hasSeconds = false;
    auto flushLiteral = [&result, &literal] {
        literal.remove(QStringLiteral("[]"));
        literal.remove(QStringLiteral("()"));
        while (literal.contains(QStringLiteral("  ")))
            literal.replace(QStringLiteral("  "), QStringLiteral(" "));
        result += literal;
        literal.clear();
    };
    for (qsizetype i = 0; i < source.size();) {
        const QChar c = source[i];
        qsizetype end = i + 1;
        if (c == u'\'') {
            while (end < source.size() && !(source[end] == u'\'' &&
                                            (end + 1 >= source.size() || source[end + 1] != u'\'')))
                end += source[end] == u'\'' ? 2 : 1; // '' is a quote inside quotes
            end = std::min(end + 1, source.size());
            flushLiteral();
            result += source.mid(i, end - i);
        } else if (isPatternLetter(c)) {
            while (end < source.size() && source[end] == c)
                ++end;
            // "ap" / "AP" is one field in Qt's patterns.
            if ((c == u'a' || c == u'A') && end < source.size() &&
                (source[end] == u'p' || source[end] == u'P'))
                ++end;
            const QString field = source.mid(i, end - i);
            QString kept;
            if (c == u'h' || c == u'H' || c == u'm' || c == u's')
                kept = field.left(2);
            else if (c == u'a' || c == u'A')
                kept = field;
            else if (c == u'B' || c == u'b')
                kept = QStringLiteral("AP");
            hasSeconds |= c == u's';
            if (!kept.isEmpty()) {
                flushLiteral();
                result += kept;
            }
        } else {
            while (end < source.size() && source[end] != u'\'' && !isPatternLetter(source[end]))
                ++end;
            literal += source.mid(i, end - i);
        }
        i = end;
    }
    flushLiteral();
    result = result.trimmed();
    if (!hasSeconds) // a long format without seconds is no clock
        result = QStringLiteral("HH:mm:ss");
    return result;
}

} // namespace

QString DateText(const QLocale& locale, QDate date)
{
    return locale.toString(date, QLocale::ShortFormat);
}

QString TimeText(const QLocale& locale, QTime time)
{
    return locale.toString(time, timeFormat(locale));
}

QFont fittingFont(QFont font, const QString& text, int width)
{
    constexpr qreal Step = 0.25;
    constexpr qreal Smallest = 1; // a glyph-less script may need it; clipping is worse
    while (QFontMetrics(font).horizontalAdvance(text) > width && font.pointSizeF() > Smallest)
        font.setPointSizeF(font.pointSizeF() - Step);
    return font;
}

} // namespace panel
