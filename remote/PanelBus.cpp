// SPDX-License-Identifier: MIT
#include "remote/PanelBus.h"

#include "automation/PanelModel.h"
#include "channels/ChannelTable.h"
#include "PanelAdaptor.h"
#include "remote/PanelContract.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace remote
{

namespace
{
using Cause = automation::PanelModel::Cause;
}

PanelBus::PanelBus(automation::PanelModel& model, QObject* parent)
    : QObject(parent), m_model(model), m_announcedState(model.outputState()),
      m_announcedBoard(static_cast<qint16>(model.boardState())),
      m_announcedStatus(model.boardStatus()), m_announcedCaptions(model.captions())
{
    new PanelAdaptor(this); // owned by this object; relays its signals
    connect(&m_model, &automation::PanelModel::portWritten, this, &PanelBus::PortWritten);
    connect(&m_model, &automation::PanelModel::fieldChanged, this, &PanelBus::FieldChanged);
    connect(&m_model, &automation::PanelModel::stateChanged, this, &PanelBus::announceChanges);
}

bool PanelBus::exportOn(QDBusConnection& bus)
{
    // The bus the object is on is the bus its PropertiesChanged goes out on.
    m_bus = bus;
    return bus.registerObject(objectPath(), this);
}

qint16 PanelBus::outputState() const
{
    return m_model.outputState();
}

qint16 PanelBus::boardState() const
{
    return static_cast<qint16>(m_model.boardState());
}

QString PanelBus::boardStatus() const
{
    return m_model.boardStatus();
}

QStringList PanelBus::fields() const
{
    QStringList texts;
    for (int number = 1; number <= automation::FieldCount; ++number)
        texts << m_model.fieldText(number);
    return texts;
}

QStringList PanelBus::captions() const
{
    return m_model.captions();
}

bool PanelBus::accepting()
{
    // Once exit has begun, nothing more may reach the port after its 0.
    if (!m_model.isClosing())
        return true;
    if (calledFromDBus())
        sendErrorReply(closingError(), QStringLiteral("the panel is closing"));
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
        m_model.ToggleChannel(channel, Cause::Remote);
}

void PanelBus::SwitchChannelOn(int channel)
{
    if (validChannel(channel) && accepting())
        m_model.SwitchChannelOn(channel, Cause::Remote);
}

void PanelBus::SwitchChannelOff(int channel)
{
    if (validChannel(channel) && accepting())
        m_model.SwitchChannelOff(channel, Cause::Remote);
}

void PanelBus::AllOff()
{
    if (accepting())
        m_model.AllOff(Cause::Remote);
}

QString PanelBus::Field(int number)
{
    return validField(number) ? m_model.fieldText(number) : QString();
}

void PanelBus::SetField(int number, const QString& text)
{
    // One limit, here where other programs' text comes in; checked before a
    // large text is looked at any further.
    if (text.size() > automation::FieldTextLimit) {
        if (calledFromDBus())
            sendErrorReply(QDBusError::InvalidArgs,
                           QStringLiteral("a field's text is at most %1 characters, not %2")
                               .arg(automation::FieldTextLimit)
                               .arg(text.size()));
        return;
    }
    if (validField(number) && accepting())
        m_model.setFieldText(number, text);
}

void PanelBus::Activate()
{
    // A window that is closing is not brought back.
    if (accepting())
        emit activateRequested();
}

void PanelBus::announceChanges()
{
    QVariantMap changed;
    if (m_model.outputState() != m_announcedState) {
        m_announcedState = m_model.outputState();
        changed.insert(QLatin1String(member::OutputState), QVariant::fromValue(m_announcedState));
    }
    if (boardState() != m_announcedBoard) {
        m_announcedBoard = boardState();
        changed.insert(QLatin1String(member::BoardState), QVariant::fromValue(m_announcedBoard));
    }
    if (boardStatus() != m_announcedStatus) {
        m_announcedStatus = boardStatus();
        changed.insert(QLatin1String(member::BoardStatus), m_announcedStatus);
    }
    const QStringList shown = m_model.captions();
    if (shown != m_announcedCaptions) {
        m_announcedCaptions = shown;
        changed.insert(QLatin1String(member::Captions), shown);
    }
    if (changed.isEmpty() || !m_bus)
        return;
    QDBusMessage signal = QDBusMessage::createSignal(
        objectPath(), QLatin1String(PropertiesInterface), QLatin1String(PropertiesChanged));
    signal << interfaceName() << changed << QStringList();
    m_bus->send(signal);
}

} // namespace remote
