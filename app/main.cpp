#include "channels/PortOutput.h"
#include "panel/ControlPanel.h"

#include <QApplication>
#include <QMessageBox>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("pc-automation"));

    channels::PortOutput port;
    port.setFailureHandler([](const QString& report) {
        QMessageBox::critical(nullptr, QStringLiteral("pc-automation"), report);
        channels::PortOutput::reportAndExit(report);
    });

    panel::ControlPanel window([&port](std::int16_t value) { port.write(value); });
    window.show();
    return QApplication::exec();
}
