// SPDX-License-Identifier: MIT
#include "fenwix/fenwix_board.h"
#include "lpt-board/BoardView.h"

#include <cstdlib>
#include <QApplication>

// Watches the board state file the port library keeps (FENWIX_BOARD, else the
// library's default place) and shows it as lamps.
int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("lpt-board"));
    const fenwix::BoardLocation board = fenwix::boardLocation(&std::getenv);
    board::BoardView view(QString::fromStdString(board.path),
                          QString::fromStdString(board.privateFolder));
    view.show();
    return QApplication::exec();
}
