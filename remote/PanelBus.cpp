#include "remote/PanelBus.h"

#include "automation/Scheduler.h"
#include "channels/ChannelTable.h"
#include "panel/ControlPanel.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QLineEdit>

namespace remote
{

PanelBus::PanelBus(panel::ControlPanel& window, QObject* parent)
    : QObject(parent), m_window(window), m_announcedState(window.outputState()),
      m_announcedCaptions(window.captions())
{
    connect(&m_window, &panel::ControlPanel::portWritten, this, &PanelBus::PortWritten);
    connect(&m_window, &panel::ControlPanel::stateChanged, this, &PanelBus::announceChanges);
}

qint16 PanelBus::outputState() const
{
    return m_window.outputState();
}

QStringList PanelBus::captions() const
{
    return m_window.captions();
}

bool PanelBus::accepting()
{
    // Once exit has begun, nothing more may reach the port after its 0.
    if (!m_window.isClosing())
        return true;
    if (calledFromDBus())
        sendErrorReply(QStringLiteral("net.pcautomation.Panel1.Error.Closing"),
                       QStringLiteral("the panel is closing"));
    return false;
}

bool PanelBus::inRange(int value, int first, int last, const char* what)
{
    if (value >= first && value <= last)
        return true;
    if (calledFromDBus())
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("%1 %2 is not one of %3 to %4")
                                                    .arg(QLatin1String(what))
                                                    .arg(value)
                                                    .arg(first)
                                                    .arg(last));
    return false;
}

bool PanelBus::validChannel(int channel)
{
    return inRange(channel, 0, channels::ChannelCount - 1, "channel");
}

bool PanelBus::validField(int number)
{
    return inRange(number, 1, automation::FieldCount, "field");
}

void PanelBus::ToggleChannel(int channel)
{
    if (validChannel(channel) && accepting())
        m_window.ToggleChannel(channel, panel::ControlPanel::Cause::Remote);
}

void PanelBus::SwitchChannelOn(int channel)
{
    if (validChannel(channel) && accepting())
        m_window.SwitchChannelOn(channel, panel::ControlPanel::Cause::Remote);
}

void PanelBus::SwitchChannelOff(int channel)
{
    if (validChannel(channel) && accepting())
        m_window.SwitchChannelOff(channel, panel::ControlPanel::Cause::Remote);
}

void PanelBus::AllOff()
{
    if (accepting())
        m_window.AllOff(panel::ControlPanel::Cause::Remote);
}

QString PanelBus::Field(int number)
{
    return validField(number) ? m_window.field(number)->text() : QString();
}

void PanelBus::SetField(int number, const QString& text)
{
    if (validField(number) && accepting())
        m_window.field(number)->setText(text);
}

void PanelBus::Activate()
{
    m_window.show();
    m_window.raise();
    m_window.activateWindow();
}

void PanelBus::announceChanges()
{
    QVariantMap changed;
    if (m_window.outputState() != m_announcedState) {
        m_announcedState = m_window.outputState();
        changed.insert(QStringLiteral("OutputState"), QVariant::fromValue(m_announcedState));
    }
    const QStringList shown = m_window.captions();
    if (shown != m_announcedCaptions) {
        m_announcedCaptions = shown;
        changed.insert(QStringLiteral("Captions"), shown);
    }
    if (changed.isEmpty())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(
        QString::fromLatin1(ObjectPath), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(InterfaceName) << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

} // namespace remote
