// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>

// What the library tells the user: each problem once, with what to do about it.
namespace fenwix
{

// Receives one complete diagnostic line (without the newline).
using Reporter = std::function<void(std::string_view line)>;
Reporter stderrReporter();

std::string errorText(int err);

// line as said to a user who chose the board with a program's option
// (chosenWith, such as --board) rather than with FENWIX_LPT1; the line
// itself when chosenWith is empty. Without the "FENWIX: " that starts what
// is said on stderr when bare.
std::string advised(std::string line, const std::string& chosenWith, bool bare = false);
// A reporter that says every line as advised() makes it.
Reporter advisedReporter(Reporter report, const std::string& chosenWith);

// The board file's status for a device after a write: "<device> ok" or
// "<device> error: <what>".
std::string deviceStatus(const std::string& device, int err);

// The line that explains a device failure and what the user can do about it.
std::string deviceProblem(const std::string& device, const char* step, int err);

// The port's one outlet for lines, shared by callers and the writer thread.
class Reports
{
  public:
    explicit Reports(Reporter report) : m_report(std::move(report)) {}

    // Says line unless it is what this source (last) said most recently; the
    // same problem is said again only after it was cured (last cleared).
    void once(std::string& last, const std::string& line);
    // The problem last said by this source is over: says "FENWIX: <device>:
    // <what>" (writing again, answering again) and forgets it; nothing when
    // there was none.
    void cured(std::string& last, const std::string& device, const char* what);
    // After a write read back: 0 when held is what was sent (a problem said
    // before is cured: "writing again"); else EIO, with "FENWIX: <device>:
    // the <parts> hold <held> after <sent> was sent; <remedy>; trying again at
    // the next write" said once.
    int confirmed(std::string& last, const std::string& device, int held, int sent,
                  const char* parts, const char* remedy);
    void say(const std::string& line);
    // In a child after fork(): another thread may have held the lock.
    void forgetParentThreads();

  private:
    std::mutex m_mutex; // never held while waiting for anything else
    Reporter m_report;
};

} // namespace fenwix
