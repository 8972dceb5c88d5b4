// SPDX-License-Identifier: MIT
#include "automation/PanelModel.h"

#include "automation/LoopRoutine.h"

#include <QCoreApplication>

namespace automation
{

PanelModel::PanelModel(channels::PortWrite write, QObject* parent)
    : QObject(parent), m_write(std::move(write)),
      m_clock([] { return QDateTime::currentDateTime(); }), m_stepPause(DefaultStepPause),
      m_channels{OutputState, [this](std::int16_t value) { writePort(value, m_cause); },
                 [this](int channel, channels::ChannelState state) { setShown(channel, state); }}
{
    m_watchTimer.setInterval(WatchInterval);
    connect(&m_watchTimer, &QTimer::timeout, this, [this] { checkBoard(true); });
    m_confirmTimer.setSingleShot(true);
    m_confirmTimer.setInterval(20);
    connect(&m_confirmTimer, &QTimer::timeout, this, [this] { checkBoard(true); });
}

bool PanelModel::checkBoard(bool announce)
{
    const std::optional<BoardReading> reading = m_watch ? m_watch() : std::nullopt;
    if (!reading)
        return false;
    if (!m_watchTimer.isActive())
        m_watchTimer.start();
    if (reading->pending) {
        m_confirmTimer.start();
        return true;
    }
    const int held = reading->held >= 0 && reading->held <= 255 ? reading->held : -1;
    const QString status = reading->status.isEmpty() ? QStringLiteral("ok") : reading->status;
    const bool changed = held != m_boardState || status != m_boardStatus;
    m_boardState = held;
    m_boardStatus = status;
    if (changed && announce)
        emit stateChanged();
    return true;
}

QString PanelModel::causeName(Cause cause)
{
    switch (cause) {
    case Cause::Click:
        return QStringLiteral("click");
    case Cause::Schedule:
        return QStringLiteral("schedule");
    case Cause::Loop:
        return QStringLiteral("loop");
    case Cause::Remote:
        return QStringLiteral("dbus");
    case Cause::Exit:
        return QStringLiteral("exit");
    case Cause::CatchUp:
        return QStringLiteral("catch-up");
    }
    return {};
}

QString PanelModel::fieldText(int number) const
{
    if (number < 1 || number > FieldCount)
        return {};
    return m_fields[static_cast<std::size_t>(number - 1)];
}

void PanelModel::setFieldText(int number, const QString& text)
{
    if (number < 1 || number > FieldCount)
        return;
    QString& field = m_fields[static_cast<std::size_t>(number - 1)];
    if (field == text)
        return;
    field = text;
    emit fieldChanged(number, text);
}

QStringList PanelModel::captions() const
{
    QStringList list;
    for (int channel = 0; channel < channels::ChannelCount; ++channel)
        list << channels::text(channels::captionOf(channel, channelState(channel)));
    return list;
}

channels::ChannelState PanelModel::channelState(int channel) const
{
    if (channel < 0 || channel >= channels::ChannelCount)
        return channels::ChannelState::Unknown;
    return m_shown[static_cast<std::size_t>(channel)];
}

void PanelModel::writePort(std::int16_t value, Cause cause)
{
    if (m_write)
        m_write(value);
    if (!checkBoard(false))
        m_boardState = value & 0xFF;
    emit portWritten(value, causeName(cause));
    emit stateChanged();
}

void PanelModel::writeWhole(std::int16_t value, Cause cause)
{
    OutputState = value;
    writePort(value, cause);
    channels::RefreshCaptions(m_channels);
}

void PanelModel::setShown(int channel, channels::ChannelState state)
{
    if (channel < 0 || channel >= channels::ChannelCount)
        return;
    m_shown[static_cast<std::size_t>(channel)] = state;
    emit captionChanged(channel, channels::text(channels::captionOf(channel, state)));
    emit stateChanged();
}

// Once exit has begun nothing more reaches the port after its final 0.
void PanelModel::ToggleChannel(int channel, Cause cause)
{
    if (m_closing)
        return;
    m_cause = cause;
    channels::ToggleChannel(m_channels, channel);
}

void PanelModel::SwitchChannelOn(int channel, Cause cause)
{
    if (m_closing)
        return;
    m_cause = cause;
    channels::SwitchChannelOn(m_channels, channel);
}

void PanelModel::SwitchChannelOff(int channel, Cause cause)
{
    if (m_closing)
        return;
    m_cause = cause;
    channels::SwitchChannelOff(m_channels, channel);
}

void PanelModel::AllOff(Cause cause)
{
    if (!m_closing)
        writeWhole(0, cause);
}

void PanelModel::resumeBoard(int byte)
{
    OutputState = static_cast<std::int16_t>(byte & 0xFF);
    m_boardState = byte & 0xFF;
    if (m_watch)
        m_watchTimer.start();
    channels::RefreshCaptions(m_channels); // announces the change
}

bool PanelModel::catchUp()
{
    const int byte = CatchUpByte([this](int number) { return fieldText(number); }, m_clock().time(),
                                 m_boardState);
    if (m_closing || (m_boardState >= 0 && byte == m_boardState))
        return false;
    writeWhole(static_cast<std::int16_t>(byte), Cause::CatchUp);
    return true;
}

void PanelModel::SchedulerTick()
{
    if (m_closing)
        return;
    m_cause = Cause::Schedule;
    const SchedulerSeams seams{
        [this](int number) { return fieldText(number); },
        [this] { return m_clock().time(); },
        [this](int channel) { channels::SwitchChannelOn(m_channels, channel); },
        [this](int channel) { channels::SwitchChannelOff(m_channels, channel); },
    };
    automation::SchedulerTick(seams);
}

void PanelModel::LoopTest()
{
    if (m_closing)
        return;
    const LoopSeams seams{
        OutputState,
        StopRequested,
        [this](std::int16_t value) { writePort(value, Cause::Loop); },
        [this] { StepPause(m_scratch, m_stepPause); },
        [this] { channels::RefreshCaptions(m_channels); },
        [] { QCoreApplication::processEvents(QEventLoop::AllEvents); },
        [this] { return m_closing; },
    };
    automation::LoopTest(seams);
}

void PanelModel::StopLoop()
{
    automation::StopLoop(OutputState, StopRequested);
    emit stateChanged();
}

void PanelModel::ExitCommand()
{
    StopRequested = -1;
    m_closing = true; // a running loop test ends before its next step
    writePort(0, Cause::Exit);
    emit exitRequested();
}

} // namespace automation
