#include "PortOutput.h"

#include <cstdio>
#include <cstdlib>
#include <QCoreApplication>
#include <QDir>

namespace channels
{

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
    // fallbacks.
    m_library.setFileName(m_options.library);
    QString firstError;
    if (m_library.load()) {
        m_function =
            reinterpret_cast<OutFunction>(m_library.resolve(m_options.function.constData()));
        if (m_function)
            return true;
        firstError = m_library.errorString();
    } else {
        firstError = m_library.errorString();
        for (const QString& dir : m_options.fallbackDirs) {
            m_library.setFileName(QDir(dir).filePath(m_options.library));
            if (!m_library.load())
                continue;
            m_function =
                reinterpret_cast<OutFunction>(m_library.resolve(m_options.function.constData()));
            if (m_function)
                return true;
            firstError = m_library.errorString();
            break;
        }
    }

    m_failed = true;
    QString report =
        QStringLiteral("pc-automation: cannot use the port library %1 (function %2): %3")
            .arg(m_options.library, QString::fromLatin1(m_options.function), firstError);
    if (!m_options.fallbackDirs.isEmpty())
        report += QStringLiteral(" (also looked in %1)").arg(m_options.fallbackDirs.join(u", "));
    if (m_onFailure)
        m_onFailure(report);
    return false;
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
