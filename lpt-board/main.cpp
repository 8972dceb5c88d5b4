// SPDX-License-Identifier: MIT
#include "fenwix/fenwix_board.h"
#include "lpt-board/BoardView.h"
#include "lpt-board/Placement.h"
#include "remote/CommandLineCommon.h"

#include <cstdlib>
#include <QApplication>

// Watches the board state file the port library keeps (FENWIX_BOARD, else the
// library's default place) and shows it as lamps.
int main(int argc, char* argv[])
{
    cli::programName() = "lpt-board";
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Shows the eight data lines of the board that pc-automation's port "
                       "library drives, as lamps, from its board state file (FENWIX_BOARD, "
                       "else $XDG_RUNTIME_DIR/fenwix-lpt1)."));
    if (const int status = cli::finish(cli::parseCommon(parser, arguments), PC_AUTOMATION_VERSION);
        status >= 0)
        return status;

    if (!cli::displayAvailable())
        return cli::noDisplay();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("lpt-board"));
    const fenwix::BoardLocation board = fenwix::boardLocation(&std::getenv);
    board::BoardView view(QString::fromStdString(board.path),
                          QString::fromStdString(board.privateFolder));
    board::placeBesidePanel(view);
    view.show();
    return QApplication::exec();
}
