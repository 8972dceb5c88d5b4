// SPDX-License-Identifier: MIT
#pragma once

// Reading and writing whole files in tests: a file that cannot be read reads
// as empty, so a comparison names what was missing.
#include <QFile>
#include <QString>

namespace testfiles
{

inline QString readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

inline bool writeFile(const QString& path, const QByteArray& contents)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           f.write(contents) == contents.size();
}

} // namespace testfiles
