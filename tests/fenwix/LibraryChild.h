// SPDX-License-Identifier: MIT
#pragma once

// The port library's tests run themselves as children that load the real
// library and call it: several processes on one board, trace or port.
#include <cstdio>
#include <dlfcn.h>
#include <QCoreApplication>
#include <QMap>
#include <QProcess>
#include <QTest>
#include <thread>
#include <unistd.h>
#include <vector>

namespace librarychild
{

// Starts this program as a child that writes values through the real library,
// with none of the library's variables but those in env. FENWIX_TEST_HOLD
// keeps the port after writing (the child says "held"); FENWIX_TEST_THREADS
// writes the values from that many threads.
inline void start(QProcess& p, const QStringList& values, const QMap<QString, QString>& env)
{
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"FENWIX_LPT1", "FENWIX_TRACE", "FENWIX_BOARD"})
        e.remove(QString::fromLatin1(name));
    e.insert(QStringLiteral("FENWIX_TEST_CHILD"), values.join(u','));
    for (auto it = env.begin(); it != env.end(); ++it)
        e.insert(it.key(), it.value());
    p.setProcessEnvironment(e);
    p.start(QCoreApplication::applicationFilePath(), {});
}

struct Result {
    int exitCode = -1;
    QString err;
};

inline Result run(const QStringList& values, const QMap<QString, QString>& env)
{
    QProcess p;
    start(p, values, env);
    if (!p.waitForFinished(60000))
        return {};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAllStandardError())};
}

inline int childMain()
{
    void* lib = dlopen(FENWIX_LIBRARY, RTLD_NOW);
    if (!lib)
        return 3;
    using Out = void (*)(std::int16_t);
    auto out = reinterpret_cast<Out>(dlsym(lib, "FENWIX_OUT_LPT1"));
    if (!out)
        return 4;
    const QStringList values = qEnvironmentVariable("FENWIX_TEST_CHILD").split(u',');
    auto writeAll = [&] {
        for (const QString& v : values)
            out(static_cast<std::int16_t>(v.toInt()));
    };
    if (qEnvironmentVariableIsSet("FENWIX_TEST_HOLD")) { // write, then keep the port
        writeAll();
        std::printf("held\n");
        std::fflush(stdout);
        ::sleep(60);
        return 0;
    }
    // Several threads, each writing the whole list: they share one port.
    std::vector<std::thread> threads(
        std::size_t(qEnvironmentVariableIntValue("FENWIX_TEST_THREADS")));
    for (std::thread& t : threads)
        t = std::thread(writeAll);
    for (std::thread& t : threads)
        t.join();
    if (threads.empty())
        writeAll();
    return 0;
}

// The test program's main: the child's work when started as one, else the tests.
inline int main(QObject& tests, int argc, char* argv[])
{
    if (qEnvironmentVariableIsSet("FENWIX_TEST_CHILD"))
        return childMain();
    QCoreApplication app(argc, argv);
    return QTest::qExec(&tests, argc, argv);
}

} // namespace librarychild
