// SPDX-License-Identifier: MIT
#include "channels/PortOutput.h"

#include <cstdio>
#include <cstdlib>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#if defined(__linux__)
#include <dlfcn.h>
#include <link.h>
#endif

namespace channels
{

namespace
{

// The file a loaded library came from: a bare name is resolved by the
// dynamic loader, which knows where it found it.
QString loadedFile(const QLibrary& library)
{
    const QString name = library.fileName();
#if defined(__linux__)
    if (!name.contains(u'/')) {
        // QLibrary keeps either the name it was given or the file it found.
        const QByteArray file = QFile::encodeName(name);
        const QByteArray soname = file.endsWith(".so") ? file : "lib" + file + ".so";
        if (void* handle = ::dlopen(soname.constData(), RTLD_LAZY | RTLD_NOLOAD)) {
            const link_map* map = nullptr;
            QString path;
            if (::dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name)
                path = QFile::decodeName(map->l_name);
            ::dlclose(handle);
            if (!path.isEmpty())
                return path;
        }
    }
#endif
    return name;
}

} // namespace

PortOutput::PortOutput() : PortOutput(Options{}) {}

PortOutput::PortOutput(Options options) : m_options(std::move(options)) {}

QStringList PortOutput::defaultFallbackDirs()
{
    QStringList dirs;
    if (!QCoreApplication::instance())
        return dirs;
    const QDir bin(QCoreApplication::applicationDirPath());
    for (const QString& rel :
         {QStringLiteral(PC_AUTOMATION_REL_LIBDIR), QStringLiteral("../lib")}) {
        const QString dir = QDir::cleanPath(bin.absoluteFilePath(rel));
        if (!dirs.contains(dir))
            dirs << dir;
    }
    return dirs;
}

void PortOutput::reportAndExit(const QString& report)
{
    std::fprintf(stderr, "%s\n", report.toLocal8Bit().constData());
    std::fflush(stderr);
    std::exit(EXIT_FAILURE);
}

bool PortOutput::load()
{
    // The ordinary search first, so a user's LD_LIBRARY_PATH keeps precedence;
    // a bare name never looks in the program's own library folder, hence the
    // fallbacks. A library that loads but lacks the function ends the search:
    // it is what the user's settings chose, and the report names it.
    QStringList candidates{m_options.library};
    for (const QString& dir : m_options.fallbackDirs)
        candidates << QDir(dir).filePath(m_options.library);

    QString problem;
    QStringList lookedIn;
    for (qsizetype i = 0; i < candidates.size(); ++i) {
        if (i > 0)
            lookedIn << m_options.fallbackDirs[i - 1];
        m_library.setFileName(candidates[i]);
        if (!m_library.load()) {
            if (problem.isEmpty())
                problem = m_library.errorString();
            continue;
        }
        m_function =
            reinterpret_cast<OutFunction>(m_library.resolve(m_options.function.constData()));
        if (m_function) {
            m_readFunction =
                reinterpret_cast<InFunction>(m_library.resolve(m_options.readFunction.constData()));
            m_statusFunction = reinterpret_cast<StatusFunction>(
                m_library.resolve(m_options.statusFunction.constData()));
            return true;
        }
        problem = QStringLiteral("%1 has no function %2")
                      .arg(loadedFile(m_library), QString::fromLatin1(m_options.function));
        break;
    }

    m_failed = true;
    QString report =
        QStringLiteral("pc-automation: cannot use the port library %1 (function %2): %3")
            .arg(m_options.library, QString::fromLatin1(m_options.function), problem);
    if (!lookedIn.isEmpty())
        report += QStringLiteral(" (also looked in %1)").arg(lookedIn.join(u", "));
    if (m_onFailure)
        m_onFailure(report);
    return false;
}

QString PortOutput::loadedFrom() const
{
    return loadedFile(m_library);
}

int PortOutput::read()
{
    if (m_failed || (!m_function && !load()) || !m_readFunction)
        return ReadUnavailable;
    const int value = m_readFunction();
    return value >= 0 && value <= 255 ? value : -1;
}

int PortOutput::status(QString& message)
{
    // Never the first to load the library: a missing one is reported at the
    // first write, as always.
    if (m_failed || !m_function || !m_statusFunction)
        return ReadUnavailable;
    char text[1024] = {};
    const int value = m_statusFunction(text, sizeof text);
    message = QString::fromLocal8Bit(text);
    if (value == -2)
        return Pending;
    return value >= 0 && value <= 255 ? value : -1;
}

void PortOutput::write(std::int16_t value)
{
    if (m_failed)
        return;
    if (!m_function && !load())
        return;
    m_function(value);
}

} // namespace channels
