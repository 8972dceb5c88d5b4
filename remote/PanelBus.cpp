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

bool PanelBus::validChannel(int channel)
{
    if (channel >= 0 && channel < channels::ChannelCount)
        return true;
    if (calledFromDBus())
        sendErrorReply(QDBusError::InvalidArgs,
                       QStringLiteral("channel %1 is not one of 0 to 7").arg(channel));
    return false;
}

bool PanelBus::validField(int number)
{
    if (number >= 1 && number <= automation::FieldCount)
        return true;
    if (calledFromDBus())
        sendErrorReply(QDBusError::InvalidArgs,
                       QStringLiteral("field %1 is not one of 1 to 32").arg(number));
    return false;
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
