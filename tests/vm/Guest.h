// SPDX-License-Identifier: MIT
#pragma once

// What the guest's cases share (vmcheck.cpp): this program run again in a
// child mode, files, the case lines, and waiting for the emulated guest.
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace guest
{

using Out = void (*)(std::int16_t);
// The installed library's FENWIX_OUT_LPT1.
Out library();

struct Run {
    int status = -1; // the pid, for a child left running
    std::string out, err;
};

struct User {
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
};

// This program again, in one of its child modes, with env set and, if asked,
// as another user. Waits for it unless background is set (then status is its pid).
Run run(const std::vector<std::string>& args, const std::vector<std::string>& env,
        const User* user = nullptr, bool background = false);
std::string readFile(const std::string& path);
// One "CASE name: PASS" or "CASE name: FAIL why" line.
void report(const std::string& name, bool ok, const std::string& why = {});
// The /dev node of the entry in folder whose uevent (the entry's path plus
// uevent) names a HID device with serial, empty while there is none.
std::string nodeWithUniq(const std::string& folder, const std::string& uevent,
                         const std::string& serial);
// text on one line.
std::string show(const std::string& text);

// Waits up to 20 s (the emulated guest is slow) for ready.
template <typename Ready> bool waitFor(Ready ready)
{
    for (int i = 0; i < 400; ++i) {
        if (ready())
            return true;
        ::usleep(50000);
    }
    return ready();
}

// A fake device made by a child of this program, and its node.
struct Board {
    pid_t pid;
    std::string node;
};

// A fake board run by a child of this program in mode child (with its
// arguments), once find() names its node.
template <typename Find> Board plug(const std::vector<std::string>& child, Find find)
{
    Board b{run(child, {}, nullptr, true).status, {}};
    waitFor([&] { return !(b.node = find()).empty(); });
    return b;
}

// Ends the board's child (unplugged) and waits until find() names no node.
template <typename Find> void unplug(const Board& b, Find find)
{
    ::kill(b.pid, SIGKILL);
    ::waitpid(b.pid, nullptr, 0);
    waitFor([&] { return find().empty(); });
}

// A USB HID device made through /dev/uhid with its report descriptor, served
// until killed (unplugged): get fills a feature report's bytes for report
// number rnum and returns their count (0: refused, EIO), set takes the bytes
// the host sent. Returns the child mode's exit status.
struct UhidDevice {
    std::string name, serial;
    std::span<const unsigned char> descriptor;
    std::uint16_t vendor = 0, product = 0;
};
int serveUhid(const UhidDevice& device,
              const std::function<std::size_t(unsigned char rnum, unsigned char* data)>& get,
              const std::function<void(const unsigned char* data, std::size_t size)>& set);

// The states a fake board recorded in file, one a line ("ignored ..." as -1).
std::vector<int> statesIn(const std::string& file);
inline int lastOf(const std::vector<int>& states)
{
    return states.empty() ? -1 : states.back();
}

// The GPIO boards' child mode and cases (GpioGuest.cpp).
int cp2112(const std::string& serial, unsigned refused);
void gpioBoards();
// The FTDI boards' (FtdiGuest.cpp): a gadget on the dummy controller udc.
int ftdiBoard(const std::string& serial, const std::string& product, const std::string& udc,
              unsigned refused);
void ftdiBoards();

} // namespace guest
