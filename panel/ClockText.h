// SPDX-License-Identifier: MIT
#pragma once

#include <QDate>
#include <QFont>
#include <QLocale>
#include <QString>
#include <QTime>

namespace panel
{

// The date as the window caption shows it: the locale's short date format.
QString DateText(const QLocale& locale, QDate date);

// The time in the locale's long time format, reduced to what the clock label
// shows: hours, minutes, seconds and the morning or afternoon marker.
// Time-zone names and pattern letters Qt does not render are left out.
QString TimeText(const QLocale& locale, QTime time);

// font, or the largest smaller size of it in which text fits width pixels.
QFont fittingFont(QFont font, const QString& text, int width);

} // namespace panel
