// SPDX-License-Identifier: MIT
// Measures the panel against the floor its toolkit and file system set, and
// prints one table. Options: --idle-seconds N (default 60), --quick.
#include "bench/Measure.h"

#include <algorithm>
#include <cstdlib>
#include <mosquitto.h>
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <string_view>

int main(int argc, char* argv[])
{
    using namespace bench;
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (mode == QLatin1String("--child-startup-panel"))
        return childStartup(argc, argv, true);
    if (mode == QLatin1String("--child-startup-bare"))
        return childStartup(argc, argv, false);
    if (mode == QLatin1String("--child-idle"))
        return childIdle(argc, argv);

    int idleSeconds = 60;
    bool quick = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--idle-seconds" && i + 1 < argc)
            idleSeconds = std::max(1, std::atoi(argv[++i]));
        else if (std::string_view(argv[i]) == "--quick")
            quick = true;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    benchScheduler(quick ? 2000 : 50000);
    benchClick(quick ? 1000 : 10000);
    mosquitto_lib_init();
    benchMqtt(quick ? 200 : 2000, false);
    benchMqtt(quick ? 200 : 2000, true);
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const QString defaultFolder =
        runtime && *runtime ? QString::fromLocal8Bit(runtime) : QStringLiteral("/tmp");
    benchPortCall(defaultFolder, qPrintable(QStringLiteral("default folder %1").arg(defaultFolder)),
                  quick ? 500 : 5000);
    benchPpdevCall(defaultFolder, quick ? 10000 : 100000);
    QTemporaryDir disk(QDir::currentPath() + QStringLiteral("/bench-XXXXXX"));
    benchPortCall(disk.path(), "disk folder (working directory)", quick ? 500 : 5000);
    benchStartup(quick ? 3 : 15);
    benchIdle(quick ? 5 : idleSeconds);

    printTable();
    return 0;
}
