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
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <linux/ppdev.h>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{

constexpr const char* Library = "/usr/lib/libFENWIX.so";
constexpr off_t DataRegister = 0x378;
int failures = 0;

using Out = void (*)(std::int16_t);

using In = std::int16_t (*)();

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

void report(const std::string& name, bool ok, const std::string& why = {})
{
    std::printf("CASE %s: %s%s%s\n", name.c_str(), ok ? "PASS" : "FAIL", ok ? "" : " ",
                ok ? "" : why.c_str());
    std::fflush(stdout);
    failures += !ok;
}

struct Run {
    int status = -1;
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
        const User* user = nullptr, bool background = false)
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

// Writes each value and checks at once that the data register holds it.
int writer(int argc, char** argv)
{
    const Out out = library();
    int bad = 0;
    for (int i = 2; i < argc; ++i) {
        const int value = std::atoi(argv[i]);
        out(static_cast<std::int16_t>(value));
        const int seen = dataRegister();
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

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "writer")
        return writer(argc, argv);
    if (mode == "hold")
        return holder();
    if (mode == "reader")
        return reader();
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
    std::printf("VMCHECK %s\n", failures ? "FAILED" : "PASSED");
    return failures ? 1 : 0;
}
