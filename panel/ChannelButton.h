// SPDX-License-Identifier: MIT
#pragma once

#include <QPushButton>

namespace panel
{

// A channel's button. Besides its caption (what was commanded) it shows what
// the board holds: lit, a warm fill and a lamp bar along its foot (shape as
// well as colour); dark; or, while the board fails, a hatched lamp and the
// reason in its tooltip and accessible description. Assistive technology
// hears "lit" as a checked state. It is no toggle: a click never changes
// that state by itself.
class ChannelButton : public QPushButton
{
    Q_OBJECT

  public:
    explicit ChannelButton(const QString& caption, QWidget* parent = nullptr);

    enum class Lamp { Off, Lit, Unknown };
    // problem: why the board's state is unknown (empty with Off and Lit).
    void setLamp(Lamp lamp, const QString& problem = {});
    Lamp lamp() const { return m_lamp; }
    bool isLit() const { return m_lamp == Lamp::Lit; }

    // The lamp bar, in the button's coordinates.
    QRect lampRect() const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    Lamp m_lamp = Lamp::Off;
    QPalette m_litPalette;
    qint64 m_litBase = 0; // the widget palette m_litPalette was made from
};

} // namespace panel
