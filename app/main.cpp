#include "ControlPanel.h"
#include "PortOutput.h"

#include <cstdio>
#include <cstdlib>
#include <QApplication>
#include <QMessageBox>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("pc-automation"));

    channels::PortOutput port;
    port.setFailureHandler([](const QString& report) {
        std::fprintf(stderr, "%s\n", report.toLocal8Bit().constData());
        std::fflush(stderr);
        QMessageBox::critical(nullptr, QStringLiteral("pc-automation"), report);
        std::exit(EXIT_FAILURE);
    });

    ControlPanel panel([&port](std::int16_t value) { port.write(value); });
    panel.show();
    return QApplication::exec();
}
