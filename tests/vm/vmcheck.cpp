// SPDX-License-Identifier: MIT
// Runs inside the test guest, as its init's one program, against the
// kernel's own parport, parport_pc, ppdev and lp drivers on QEMU's emulated
// ISA port at 0x378. Prints one "CASE <name>: PASS" or "CASE <name>: FAIL
// <why>" line per case and "FIGURE ..." lines; the host reads the console.
//
// What QEMU limits: its port passes a byte to its character device only on a
// strobe, so nothing outside the guest sees the data lines. The data
// register itself is real to the drivers, though: it is read back here
// through /dev/port and through ppdev's PPRDATA, which is what a board on the
// connector's pins 2 to 9 would see.
//
// USB relay boards are made through uhid: the kernel's own HID core, hid-generic
// and hidraw see a USB device, and a child of this program answers its
// feature reports as such a board does, recording each relay state. GPIO
// boards: GpioGuest.cpp; FTDI boards: FtdiGuest.cpp.
#include "tests/support/RelayBoard.h"
#include "tests/vm/Guest.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <linux/hidraw.h>
#include <linux/ppdev.h>
#include <linux/uhid.h>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace guest
{

constexpr const char* Library = "/usr/lib/libFENWIX.so";
constexpr off_t DataRegister = 0x378;
int failures = 0;

using Out = void (*)(std::int16_t);

using In = std::int16_t (*)();
using Status = std::int16_t (*)(char*, std::int32_t);

void* libraryFunction(const char* name)
{
    void* handle = dlopen(Library, RTLD_NOW);
    if (!handle) {
        std::printf("cannot load %s: %s\n", Library, dlerror());
        std::exit(3);
    }
    return dlsym(handle, name);
}

Out library()
{
    return reinterpret_cast<Out>(libraryFunction("FENWIX_OUT_LPT1"));
}

int dataRegister()
{
    const int fd = ::open("/dev/port", O_RDONLY | O_CLOEXEC);
    unsigned char byte = 0;
    const ssize_t n = fd >= 0 ? ::pread(fd, &byte, 1, DataRegister) : -1;
    if (fd >= 0)
        ::close(fd);
    return n == 1 ? byte : -1;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void report(const std::string& name, bool ok, const std::string& why)
{
    std::printf("CASE %s: %s%s%s\n", name.c_str(), ok ? "PASS" : "FAIL", ok ? "" : " ",
                ok ? "" : why.c_str());
    std::fflush(stdout);
    failures += !ok;
}

// This program again, in one of its child modes, with env set and, if asked,
// as another user. Waits for it unless background is set (then status is its pid).
Run run(const std::vector<std::string>& args, const std::vector<std::string>& env, const User* user,
        bool background)
{
    static int serial = 0;
    const std::string out = "/tmp/out" + std::to_string(++serial);
    const std::string err = "/tmp/err" + std::to_string(serial);
    const pid_t pid = fork();
    if (pid == 0) {
        const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        ::dup2(o, 1);
        ::dup2(e, 2);
        ::unsetenv("FENWIX_LPT1");
        for (const std::string& kv : env)
            ::putenv(const_cast<char*>(kv.c_str()));
        if (user && (::setgroups(user->groups.size(), user->groups.data()) != 0 ||
                     ::setgid(user->gid) != 0 || ::setuid(user->uid) != 0))
            _exit(5);
        std::vector<char*> argv{const_cast<char*>("/vmcheck")};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv("/vmcheck", argv.data());
        _exit(6);
    }
    Run r;
    if (background) {
        r.status = pid;
        return r;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = readFile(out);
    r.err = readFile(err);
    return r;
}

std::string show(const std::string& text)
{
    std::string s = text;
    std::replace(s.begin(), s.end(), '\n', '|');
    return s;
}

// --- child modes ---------------------------------------------------------

// Prints the byte the library reads back from the board.
int reader()
{
    const auto in = reinterpret_cast<In>(libraryFunction("FENWIX_IN_LPT1"));
    if (!in)
        return 4;
    std::printf("%d\n", in());
    return 0;
}

// Writes each value and checks at once that the data register holds it
// (on the parallel port).
int writer(int argc, char** argv)
{
    const Out out = library();
    const char* board = std::getenv("FENWIX_LPT1");
    const bool parport = !board || (!std::strstr(board, "hid") && !std::strstr(board, "gpio") &&
                                    !std::strstr(board, "ftdi"));
    int bad = 0;
    for (int i = 2; i < argc; ++i) {
        const int value = std::atoi(argv[i]);
        out(static_cast<std::int16_t>(value));
        const int seen = parport ? dataRegister() : -1;
        if (seen >= 0 && seen != (value & 0xFF)) { // -1: /dev/port is root's; the caller checks
            std::printf("value %d: data register holds %d\n", value, seen);
            ++bad;
        }
    }
    return bad ? 1 : 0;
}

int holder()
{
    library()(1);
    std::ofstream("/tmp/held") << "held\n";
    ::pause();
    return 0;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

int timed(bool bare, int n)
{
    using Clock = std::chrono::steady_clock;
    std::vector<double> us;
    us.reserve(static_cast<std::size_t>(n));
    if (bare) {
        const int fd = ::open("/dev/parport0", O_RDWR);
        if (fd < 0 || ::ioctl(fd, PPCLAIM) != 0)
            return 1;
        for (int i = 0; i < n; ++i) {
            unsigned char byte = static_cast<unsigned char>(i);
            const auto t0 = Clock::now();
            ::ioctl(fd, PPWDATA, &byte);
            us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        }
    } else {
        const Out out = library();
        out(0);
        for (int i = 0; i < n; ++i) {
            const auto t0 = Clock::now();
            out(static_cast<std::int16_t>(i & 0xFF));
            us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        }
    }
    std::printf("%.3f\n", median(us));
    return 0;
}

int serveUhid(const UhidDevice& device,
              const std::function<std::size_t(unsigned char rnum, unsigned char* data)>& get,
              const std::function<void(const unsigned char* data, std::size_t size)>& set)
{
    const int fd = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return 2;
    uhid_event ev{};
    ev.type = UHID_CREATE2;
    std::snprintf(reinterpret_cast<char*>(ev.u.create2.name), sizeof ev.u.create2.name, "%s",
                  device.name.c_str());
    std::snprintf(reinterpret_cast<char*>(ev.u.create2.uniq), sizeof ev.u.create2.uniq, "%s",
                  device.serial.c_str());
    std::memcpy(ev.u.create2.rd_data, device.descriptor.data(), device.descriptor.size());
    ev.u.create2.rd_size = static_cast<__u16>(device.descriptor.size());
    ev.u.create2.bus = 3; // USB
    ev.u.create2.vendor = device.vendor;
    ev.u.create2.product = device.product;
    if (::write(fd, &ev, sizeof ev) != sizeof ev)
        return 3;
    for (;;) {
        if (::read(fd, &ev, sizeof ev) <= 0)
            return 4;
        uhid_event reply{};
        if (ev.type == UHID_GET_REPORT) {
            reply.type = UHID_GET_REPORT_REPLY;
            reply.u.get_report_reply.id = ev.u.get_report.id;
            const std::size_t n = get(ev.u.get_report.rnum, reply.u.get_report_reply.data);
            reply.u.get_report_reply.size = static_cast<__u16>(n);
            reply.u.get_report_reply.err = n ? 0 : EIO;
        } else if (ev.type == UHID_SET_REPORT) {
            set(ev.u.set_report.data, ev.u.set_report.size);
            reply.type = UHID_SET_REPORT_REPLY;
            reply.u.set_report_reply.id = ev.u.set_report.id;
        } else {
            continue;
        }
        if (::write(fd, &reply, sizeof reply) != sizeof reply)
            return 5;
    }
}

// A USB relay board with relays relays and serial serial, until killed
// (unplugged). Appends the relay state to /tmp/relays-SERIAL after each
// command, and "ignored N" for a command to a relay it does not have.
int relayBoard(int relays, const std::string& serial)
{
    // One 8-byte feature report without a report id, as these boards have.
    static const unsigned char descriptor[] = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15,
                                               0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x08,
                                               0x09, 0x00, 0xB2, 0x02, 0x01, 0xC0};
    std::ofstream log("/tmp/relays-" + serial, std::ios::app);
    standin::RelayBoard board(relays, serial);
    return serveUhid(
        {"USBRelay" + std::to_string(relays), serial, descriptor, 0x16c0, 0x05df},
        [&](unsigned char, unsigned char* data) {
            board.answer(data);
            return std::size_t{standin::RelayBoard::ReportSize};
        },
        [&](const unsigned char* data, std::size_t) {
            const std::string command = board.command(data);
            if (command.rfind("ignored", 0) == 0)
                log << command << "\n";
            log << board.relays() << "\n" << std::flush;
        });
}

// Writes each number given; waits for the file named by each "wait:FILE".
int steps(int argc, char** argv)
{
    const Out out = library();
    for (int i = 2; i < argc; ++i) {
        const std::string step = argv[i];
        if (step.rfind("wait:", 0) == 0)
            while (::access(step.c_str() + 5, F_OK) != 0)
                ::usleep(20000);
        else
            out(static_cast<std::int16_t>(std::atoi(step.c_str())));
    }
    return 0;
}

std::string nodeWithUniq(const std::string& folder, const std::string& uevent,
                         const std::string& serial)
{
    std::string node;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(dir))
            if (readFile(folder + "/" + e->d_name + uevent).find("HID_UNIQ=" + serial + "\n") !=
                std::string::npos)
                node = std::string("/dev/") + e->d_name;
        ::closedir(dir);
    }
    return node.empty() || ::access(node.c_str(), F_OK) != 0 ? std::string() : node;
}

// The hidraw node of the fake board with serial (its uniq), empty while
// there is none.
std::string hidrawOf(const std::string& serial)
{
    return nodeWithUniq("/sys/class/hidraw", "/device/uevent", serial);
}

// --- the cases -------------------------------------------------------------

void valuesReachTheDataLines()
{
    const Run r = run({"writer", "421", "-2", "256", "0", "85", "170", "255", "1", "128"},
                      {"FENWIX_BOARD=/tmp/board"});
    report("every value reaches the data register (0x1A5, -2, 256 ...)", r.status == 0,
           show(r.out + r.err));
    const std::string board = readFile("/tmp/board");
    report("the board file says /dev/parport0 ok with the last value",
           board == "128\n/dev/parport0 ok\n", show(board));
    // Another program's claim, after ours has ended: the latch kept the byte.
    const int fd = ::open("/dev/parport0", O_RDWR);
    unsigned char byte = 0;
    const bool read = fd >= 0 && ::ioctl(fd, PPCLAIM) == 0 && ::ioctl(fd, PPRDATA, &byte) == 0;
    if (fd >= 0) {
        ::ioctl(fd, PPRELEASE);
        ::close(fd);
    }
    report("PPRDATA after the writer exited reads the last byte", read && byte == 128,
           "read " + std::to_string(byte));
    const Run back = run({"reader"}, {"FENWIX_BOARD=/tmp/board-reader"});
    report("a fresh process reads the byte back through the library (FENWIX_IN_LPT1)",
           back.status == 0 && back.out == "128\n", show(back.out + back.err));
}

void secondProgramCannotClaim()
{
    ::unlink("/tmp/held");
    const pid_t holder = run({"hold"}, {"FENWIX_BOARD=/tmp/board-hold"}, nullptr, true).status;
    for (int i = 0; i < 100 && ::access("/tmp/held", F_OK) != 0; ++i)
        ::usleep(50000);
    const int fd = ::open("/dev/parport0", O_RDWR | O_NONBLOCK);
    ::alarm(5); // a claim that waits is a failure too, not a hang
    const int rc = fd >= 0 ? ::ioctl(fd, PPCLAIM) : 0;
    const int err = errno;
    ::alarm(0);
    if (fd >= 0)
        ::close(fd);
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    report("a second program cannot claim the port while ours holds it",
           fd >= 0 && rc != 0 && err != EINTR,
           "claim returned " + std::to_string(rc) + " (" + std::strerror(err) + ")");
}

void users()
{
    ::chown("/dev/parport0", 0, 7); // group lp, as udev gives it
    ::chmod("/dev/parport0", 0660);
    const User member{1000, 1000, {7}};
    const Run in = run({"writer", "60"}, {"FENWIX_BOARD=/tmp/board-member"}, &member);
    report("an ordinary user in the node's group writes", in.status == 0 && dataRegister() == 60,
           "status " + std::to_string(in.status) + " " + show(in.out + in.err));
    const User outsider{1001, 1001, {}};
    const Run out = run({"writer", "153"}, {"FENWIX_BOARD=/tmp/board-outsider"}, &outsider);
    const std::string board = readFile("/tmp/board-outsider");
    report("a user outside the group gets the permission message and an error status",
           out.err.find("Permission denied") != std::string::npos &&
               out.err.find("usermod -aG lp") != std::string::npos &&
               board.find("/dev/parport0 error: Permission denied") != std::string::npos,
           "status " + std::to_string(out.status) + " " + show(out.err + board));
    report("the data register is unchanged by the refused user", dataRegister() == 60,
           std::to_string(dataRegister()));
}

void missingAndVirtual()
{
    const Run missing =
        run({"writer", "7"}, {"FENWIX_LPT1=/dev/parport9", "FENWIX_BOARD=/tmp/board-missing"});
    report("a missing node gives its message and an error status",
           missing.err.find("No such file or directory") != std::string::npos &&
               readFile("/tmp/board-missing") ==
                   "7\n/dev/parport9 error: No such file or directory\n",
           show(missing.err));
    const int before = dataRegister();
    run({"writer", "15"}, {"FENWIX_LPT1=virtual", "FENWIX_BOARD=/tmp/board-virtual"});
    report("FENWIX_LPT1=virtual leaves the data lines alone",
           dataRegister() == before && readFile("/tmp/board-virtual") == "15\nvirtual\n",
           std::to_string(before) + " -> " + std::to_string(dataRegister()));
    const Run virtualBack =
        run({"reader"}, {"FENWIX_LPT1=virtual", "FENWIX_BOARD=/tmp/board-virtual"});
    const Run missingBack =
        run({"reader"}, {"FENWIX_LPT1=/dev/parport9", "FENWIX_BOARD=/tmp/board-missing"});
    report("reading back: the virtual board's file, and -1 for a missing port",
           virtualBack.out == "15\n" && missingBack.out == "-1\n",
           show(virtualBack.out + missingBack.out));
}

void speed()
{
    const Run lib = run({"timed", "10000"}, {"FENWIX_BOARD=/tmp/board-timed"});
    const Run bare = run({"bare", "10000"}, {});
    const double l = std::atof(lib.out.c_str()), b = std::atof(bare.out.c_str());
    std::printf("FIGURE 10000 calls on the emulated port: library median %.2f us, bare PPWDATA "
                "median %.2f us, ratio %.2f\n",
                l, b, b > 0 ? l / b : 0);
    report("the speed run completed", lib.status == 0 && bare.status == 0,
           show(lib.out + bare.out));
}

void withPrinterDriver(const char* lpModule)
{
    const int rc = std::system((std::string("insmod ") + lpModule).c_str());
    report("the printer driver lp loads", rc == 0);
    const Run r = run({"writer", "90"}, {"FENWIX_BOARD=/tmp/board-lp"});
    const std::string board = readFile("/tmp/board-lp");
    report("with lp loaded the library still drives the port (shared claim)",
           r.status == 0 && dataRegister() == 90, show(r.out + r.err));
    report("and says so truthfully", board == "90\n/dev/parport0 ok\n" && r.err.empty(),
           show(board + r.err));
    const Run lp0 = run({"writer", "3"}, {"FENWIX_LPT1=/dev/lp0", "FENWIX_BOARD=/tmp/board-lp0"});
    report("/dev/lp0, no ppdev node, gives its message and an error status",
           lp0.err.find("not a parallel port (ppdev) device") != std::string::npos &&
               readFile("/tmp/board-lp0").find("/dev/lp0 error: ") != std::string::npos,
           show(lp0.err));
}

Board plugIn(int relays, const std::string& serial)
{
    return plug({"relayboard", std::to_string(relays), serial}, [&] { return hidrawOf(serial); });
}

void unplugBoard(const Board& b, const std::string& serial)
{
    unplug(b, [&] { return hidrawOf(serial); });
}

std::vector<int> statesIn(const std::string& file)
{
    std::vector<int> states;
    std::istringstream in(readFile(file));
    for (std::string line; std::getline(in, line);)
        states.push_back(line.rfind("ignored", 0) == 0 ? -1 : std::atoi(line.c_str()));
    return states;
}

std::vector<int> relayLog(const std::string& serial)
{
    return statesIn("/tmp/relays-" + serial);
}

void usbRelayBoards()
{
    const Run none = run({"writer", "7"}, {"FENWIX_LPT1=hid", "FENWIX_BOARD=/tmp/board-nohid"});
    report("HID: with no board plugged in, one message naming USB relay boards and an error status",
           none.err.find("no USB relay board") != std::string::npos &&
               readFile("/tmp/board-nohid").rfind("7\nhid error: ", 0) == 0,
           show(none.err + readFile("/tmp/board-nohid")));

    Board eight = plugIn(8, "R8AAA");
    const Board four = plugIn(4, "R4BBB");
    report("HID: the fake USBRelay8 and USBRelay4 appear as hidraw nodes",
           !eight.node.empty() && !four.node.empty(), eight.node + " " + four.node);

    const Run nosuch =
        run({"writer", "7"}, {"FENWIX_LPT1=hid:NOSUCH", "FENWIX_BOARD=/tmp/board-nosuch"});
    report("HID: hid:NOSUCH names the serial it did not find",
           nosuch.err.find("serial NOSUCH") != std::string::npos &&
               readFile("/tmp/board-nosuch").rfind("7\nhid:NOSUCH error: ", 0) == 0,
           show(nosuch.err + readFile("/tmp/board-nosuch")));

    const Run values = run({"writer", "1", "5", "255", "0", "170"},
                           {"FENWIX_LPT1=hid:R8AAA", "FENWIX_BOARD=/tmp/board-r8"});
    const std::vector<int> seen = relayLog("R8AAA");
    std::vector<int> wanted{1, 5, 255, 0, 170};
    std::size_t next = 0;
    for (const int state : seen)
        next += next < wanted.size() && state == wanted[next];
    std::string states;
    for (const int state : seen)
        states += std::to_string(state) + " ";
    report("HID: 1, 5, 255, 0, 170 reach the USBRelay8 relay for relay, in order",
           values.status == 0 && next == wanted.size() && !seen.empty() && seen.back() == 170 &&
               std::count(seen.begin(), seen.end(), -1) == 0,
           states + show(values.err));
    report("HID: the board file names the board by its serial",
           readFile("/tmp/board-r8") == "170\nhid:R8AAA ok\n", show(readFile("/tmp/board-r8")));
    const Run back = run({"reader"}, {"FENWIX_LPT1=hid:R8AAA", "FENWIX_BOARD=/tmp/board-r8b"});
    report("HID: a fresh process reads the relays back", back.out == "170\n", show(back.out));

    const Run small =
        run({"writer", "255"}, {"FENWIX_LPT1=" + four.node, "FENWIX_BOARD=/tmp/board-r4"});
    const std::vector<int> fourSeen = relayLog("R4BBB");
    report("HID: a USBRelay4 gets only its four relays, and says so once",
           !fourSeen.empty() && fourSeen.back() == 15 &&
               std::count(fourSeen.begin(), fourSeen.end(), -1) == 0 &&
               small.err.find("has 4 relays") != std::string::npos &&
               readFile("/tmp/board-r4") == "255\nhid:R4BBB ok\n",
           show(small.err + readFile("/tmp/board-r4")));

    // Unplugged and plugged back while one program drives it (this one).
    ::setenv("FENWIX_LPT1", "hid:R8AAA", 1);
    ::setenv("FENWIX_BOARD", "/tmp/board-replug", 1);
    const Out out = library();
    auto boardSays = [](const std::string& start) {
        return waitFor([&] { return readFile("/tmp/board-replug").rfind(start, 0) == 0; });
    };
    // What the library says of the board, asked as the panel does: within 2 s.
    const auto status = reinterpret_cast<Status>(libraryFunction("FENWIX_STATUS_LPT1"));
    std::string said;
    auto statusSays = [&](int held, const char* words) {
        for (int i = 0; i < 40; ++i, ::usleep(50000)) {
            char message[512] = {};
            const int value = status ? status(message, sizeof message) : -3;
            said += std::to_string(value) + " " + message + "; ";
            if (value == held && std::strstr(message, words))
                return true;
        }
        return false;
    };
    out(3);
    const bool first = boardSays("3\nhid:R8AAA ok\n") && statusSays(3, "ok");
    // Another program switches relay 3 on behind the library's back.
    if (const int fd = ::open(eight.node.c_str(), O_RDWR | O_CLOEXEC); fd >= 0) {
        unsigned char on3[9] = {0, 0xFF, 3};
        (void)::ioctl(fd, HIDIOCSFEATURE(sizeof on3), on3);
        ::close(fd);
    }
    const bool behind = statusSays(7, "ok");
    unplugBoard(eight, "R8AAA");
    const bool gone = statusSays(-1, "R8AAA");
    out(4);
    const bool unplugged = boardSays("4\nhid:R8AAA error: ");
    eight = plugIn(8, "R8AAA");
    const bool returned = statusSays(0, "ok"); // back, without power while it was out
    out(6);
    const bool again =
        boardSays("6\nhid:R8AAA ok\n") && relayLog("R8AAA").back() == 6 && statusSays(6, "ok");
    report("HID: unplugged gives an error status, plugged back it works again",
           first && unplugged && again, show(readFile("/tmp/board-replug")));
    report("HID: the library's status follows the board within 2 s: switched by another "
           "program, unplugged, back",
           behind && gone && returned, said);

    ::chmod(four.node.c_str(), 0600);
    const User outsider{1001, 1001, {}};
    const Run refused =
        run({"writer", "1"}, {"FENWIX_LPT1=hid", "FENWIX_BOARD=/tmp/board-perm"}, &outsider);
    report("HID: a node the user may not open gives the permission message",
           refused.err.find("Permission denied") != std::string::npos &&
               refused.err.find("usbrelay.rules") != std::string::npos &&
               readFile("/tmp/board-perm").find("hid error: Permission denied") !=
                   std::string::npos,
           show(refused.err + readFile("/tmp/board-perm")));
    unplugBoard(eight, "R8AAA");
    unplugBoard(four, "R4BBB");
}

} // namespace guest

using namespace guest;

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "writer")
        return writer(argc, argv);
    if (mode == "hold")
        return holder();
    if (mode == "reader")
        return reader();
    if (mode == "relayboard")
        return relayBoard(std::atoi(argv[2]), argv[3]);
    if (mode == "cp2112")
        return cp2112(argv[2], argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 0);
    if (mode == "ftdiboard")
        return ftdiBoard(argv[2], argv[3], argv[4], static_cast<unsigned>(std::atoi(argv[5])));
    if (mode == "steps")
        return steps(argc, argv);
    if (mode == "timed" || mode == "bare")
        return timed(mode == "bare", argc > 2 ? std::atoi(argv[2]) : 10000);

    std::signal(SIGALRM, [](int) {});
    std::ofstream("/etc/group") << "root:x:0:\nlp:x:7:\n";
    std::ofstream("/etc/passwd") << "root:x:0:0::/:/bin/sh\n";
    valuesReachTheDataLines();
    secondProgramCannotClaim();
    users();
    missingAndVirtual();
    speed();
    withPrinterDriver(argc > 1 ? argv[1] : "/modules/lp.ko");
    usbRelayBoards();
    gpioBoards();
    ftdiBoards();
    std::printf("VMCHECK %s\n", failures ? "FAILED" : "PASSED");
    return failures ? 1 : 0;
}
