// SPDX-License-Identifier: MIT
#pragma once

class QWidget;

namespace board
{

// On X11, moves view (not yet shown) beside a panel window that is already
// shown, or below it, wholly on the screen; elsewhere, or with no panel, the
// window manager or compositor places it.
void placeBesidePanel(QWidget& view);

} // namespace board
