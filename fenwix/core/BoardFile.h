// SPDX-License-Identifier: MIT
#pragma once

#include "fenwix/core/Advice.h"
#include "fenwix/core/Files.h"
#include "fenwix/fenwix_board.h"

#include <functional>
#include <string>
#include <string_view>

namespace fenwix
{

// The board state file of one port: the state after each call and its
// status, for the board viewer and scripts. On the virtual board it is the
// output itself, held by one program at a time.
class BoardFile
{
  public:
    using Written = std::function<void(const std::string& contents)>;

    // privateFolder: created and checked before the board is written (empty
    // when the user chose the path). written: told each state written.
    BoardFile(std::string path, std::string privateFolder, Reports& reports, Written written);
    ~BoardFile();
    BoardFile(const BoardFile&) = delete;
    BoardFile& operator=(const BoardFile&) = delete;

    // Each returns empty or the problem that keeps the file unwritten.
    std::string placeProblem();
    // Takes the virtual board for this port (an advisory lock beside the
    // file, held until the port goes away).
    std::string hold();
    std::string replace(int value, const std::string& status);
    // Says a problem once, until a write succeeds (an empty problem).
    void report(std::string problem);
    // The place checked, the file replaced and any problem said.
    void write(int value, const std::string& status);
    // The virtual board's byte as the file holds it, or -1 when there is no
    // such file (nothing written yet) or it holds no virtual board's state.
    int readVirtual() const;

  private:
    std::string m_path;
    std::string m_privateFolder;
    Reports& m_reports;
    Written m_written;
    int m_lockFd = -1;
    bool m_tidied = false; // dead writers' temporary copies removed
    std::string m_lastProblem;
};

} // namespace fenwix
