// SPDX-License-Identifier: MIT
#pragma once

// The real panel program on the virtual board, in a folder of its own, with
// a session bus (the tests run under dbus-run-session), and what the tests
// of its D-Bus face and kept schedules share to drive and watch it.
#include "remote/PanelContract.h"
#include "tests/shared/Files.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace remotetest
{

using testfiles::readFile;

struct Result {
    int exitCode = -1;
    QString out, err;
};

// One real panel (or a command of the same program) in a folder of its own.
struct Program {
    QTemporaryDir dir;
    QProcess panel;
    QMap<QString, QString> env;

    QProcessEnvironment environment() const
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        e.insert(QStringLiteral("FENWIX_LPT1"), QStringLiteral("virtual"));
        e.insert(QStringLiteral("FENWIX_BOARD"), dir.filePath(QStringLiteral("board")));
        e.insert(QStringLiteral("FENWIX_TRACE"), dir.filePath(QStringLiteral("trace")));
        e.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        for (auto it = env.begin(); it != env.end(); ++it)
            e.insert(it.key(), it.value());
        return e;
    }
    // Starts the panel and waits until it answers on the bus.
    bool start(const QStringList& args = {})
    {
        panel.setProcessEnvironment(environment());
        panel.start(QStringLiteral(PANEL_PROGRAM), args);
        for (int i = 0; i < 200; ++i) {
            if (QDBusConnection::sessionBus().interface()->isServiceRegistered(
                    remote::serviceName()))
                return true;
            if (panel.state() == QProcess::NotRunning)
                return false;
            QTest::qWait(50);
        }
        return false;
    }
    // Ends the panel and waits until its name is free again.
    void stop()
    {
        panel.kill();
        panel.waitForFinished(10000);
        for (int i = 0; i < 200 && QDBusConnection::sessionBus().interface()->isServiceRegistered(
                                       remote::serviceName());
             ++i)
            QTest::qWait(50);
    }
    ~Program() { stop(); }

    // stdoutTo: a file standard output goes to instead (/dev/full ...).
    Result run(const QStringList& args, const QString& stdoutTo = {}) const
    {
        QProcess p;
        p.setProcessEnvironment(environment());
        if (!stdoutTo.isEmpty())
            p.setStandardOutputFile(stdoutTo);
        p.start(QStringLiteral(PANEL_PROGRAM), args);
        if (!p.waitForFinished(30000))
            return {};
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromLocal8Bit(p.readAllStandardOutput()),
                QString::fromLocal8Bit(p.readAllStandardError())};
    }
    QList<int> writes() const
    {
        QList<int> values;
        for (const QString& line :
             readFile(dir.filePath(QStringLiteral("trace"))).split(u'\n', Qt::SkipEmptyParts))
            values << line.section(u' ', 1).toInt();
        return values;
    }
};

inline QDBusMessage call(const QString& method, const QVariantList& args = {})
{
    QDBusMessage m = QDBusMessage::createMethodCall(remote::serviceName(), remote::objectPath(),
                                                    remote::interfaceName(), method);
    m.setArguments(args);
    return QDBusConnection::sessionBus().call(m);
}

inline QVariant busProperty(const QString& name)
{
    QDBusMessage m = QDBusMessage::createMethodCall(
        remote::serviceName(), remote::objectPath(),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    m << remote::interfaceName() << name;
    const QDBusMessage reply = QDBusConnection::sessionBus().call(m);
    return reply.arguments().isEmpty()
               ? QVariant()
               : reply.arguments().constFirst().value<QDBusVariant>().variant();
}

// "Method arg arg" as a call.
inline QDBusMessage callLine(const QString& line)
{
    const QStringList words = line.split(u' ');
    QVariantList args;
    for (const QString& w : words.mid(1))
        args << w.toInt();
    return call(words[0], args);
}

inline QString libfaketime()
{
    for (const QString& dir :
         QDir(QStringLiteral("/usr/lib")).entryList({QStringLiteral("*-linux-gnu")}, QDir::Dirs)) {
        const QString path = QStringLiteral("/usr/lib/%1/faketime/libfaketime.so.1").arg(dir);
        if (QFile::exists(path))
            return path;
    }
    return {};
}

} // namespace remotetest
