// SPDX-License-Identifier: MIT
#pragma once

#include "automation/PanelModel.h"
#include "channels/ChannelTable.h"
#include "panel/PanelLayout.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <QDateTime>
#include <QFont>
#include <QStringList>
#include <QTimer>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace panel
{

class ChannelButton;

// The font of each face the window uses.
QFont panelFont(FontKind kind);

// The system's one window: eight channel buttons, 32 schedule fields, the loop
// test and exit buttons, the clock and the fixed labels, drawn from the model
// that holds the program's state, and both timers.
class ControlPanel : public QWidget
{
    Q_OBJECT

  public:
    static constexpr int ClientWidth = 489; // the inside of a 497 x 542 window
    static constexpr int ClientHeight = 508;
    using Cause = automation::PanelModel::Cause;

    explicit ControlPanel(automation::PanelModel& model, QWidget* parent = nullptr);
    // A window with a model of its own that writes to write.
    explicit ControlPanel(channels::PortWrite write, QWidget* parent = nullptr);

    automation::PanelModel& model() { return m_model; }

    // Seams for tests, passed on to the model.
    void setClock(std::function<QDateTime()> clock) { m_model.setClock(std::move(clock)); }
    void setStepPause(std::chrono::milliseconds pause) { m_model.setStepPause(pause); }

    std::int16_t outputState() const { return m_model.outputState(); }
    std::int16_t stopRequested() const { return m_model.stopRequested(); }
    std::int32_t pauseScratch() const { return m_model.pauseScratch(); }
    QStringList captions() const;
    QTimer& timer1() { return Timer1; }
    QTimer& timer2() { return Timer2; }
    QLineEdit* field(int number) const; // TextN, N = 1 .. automation::FieldCount

  public slots:
    void ToggleChannel(int channel) { m_model.ToggleChannel(channel, Cause::Click); }
    void LoopTest() { m_model.LoopTest(); }
    void StopLoop() { m_model.StopLoop(); }
    void ExitCommand() { m_model.ExitCommand(); }
    void SchedulerTick() { m_model.SchedulerTick(); }
    void ClockTick();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void buildControls();
    void showCaption(int channel, const QString& caption);
    void showLamp(int channel);

    std::unique_ptr<automation::PanelModel> m_ownModel;
    automation::PanelModel& m_model;
    QTimer Timer1{this};
    QTimer Timer2{this};

    std::array<ChannelButton*, channels::ChannelCount> m_channelButtons{};
    std::array<QLineEdit*, automation::FieldCount> m_fields{};
    QLabel* m_clockLabel = nullptr;
};

} // namespace panel
