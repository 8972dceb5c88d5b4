// SPDX-License-Identifier: MIT
#pragma once

#include <QPushButton>

namespace panel
{

// A channel's button. Besides its caption it shows whether the caption says
// "on": a warm fill and a lamp bar along its foot (shape as well as colour),
// and it tells assistive technology so as a checked state. It is no toggle:
// a click never changes that state by itself, only the caption the channel
// operations set does.
class ChannelButton : public QPushButton
{
    Q_OBJECT

  public:
    explicit ChannelButton(const QString& caption, QWidget* parent = nullptr);

    void setLit(bool lit);
    bool isLit() const { return m_lit; }

    // The lamp bar, in the button's coordinates.
    QRect lampRect() const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    bool m_lit = false;
    QPalette m_litPalette;
    qint64 m_litBase = 0; // the widget palette m_litPalette was made from
};

} // namespace panel
