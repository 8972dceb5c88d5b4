// SPDX-License-Identifier: MIT
#include "fenwix/core/Advice.h"

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <new>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace fenwix
{

namespace
{

// Groups whose members may do far more than drive a port.
bool grantsMore(const std::string& group, gid_t gid)
{
    static constexpr const char* Wide[] = {"root", "wheel", "sudo",  "adm",    "admin",
                                           "disk", "kmem",  "tty",   "shadow", "staff",
                                           "sys",  "video", "input", "docker"};
    if (gid == 0)
        return true;
    for (const char* name : Wide)
        if (group == name)
            return true;
    return false;
}

// The remedy for a device the user may not open: join its group only where
// that group is for devices like this port and nothing more.
std::string accessRemedy(const std::string& device)
{
    constexpr unsigned ParportMajor = 99; // the kernel's ppdev devices
    struct stat st {
    };
    if (::stat(device.c_str(), &st) != 0)
        return "give your user read and write access to the device";
    if (!S_ISCHR(st.st_mode) || major(st.st_rdev) != ParportMajor)
        return device + " is not a parallel port (ppdev) device; set FENWIX_LPT1 to one such as "
                        "/dev/parport0, or to virtual";
    struct group grp {
    };
    struct group* found = nullptr;
    char buffer[1024];
    std::string group;
    if (::getgrgid_r(st.st_gid, &grp, buffer, sizeof buffer, &found) == 0 && found)
        group = found->gr_name;
    if (group.empty() || grantsMore(group, st.st_gid))
        return "the port belongs to group " + (group.empty() ? std::to_string(st.st_gid) : group) +
               ", which grants far more than the port; give the port a group of its own with a "
               "udev rule (see 60-pc-automation-parport.rules.example) and join that group";
    return "add your user to the group that owns it (sudo usermod -aG " + group +
           " $USER), then log in again";
}

void writeAll(int fd, std::string_view text)
{
    // One write per line keeps lines whole on an O_APPEND descriptor.
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

} // namespace

std::string errorText(int err)
{
    return std::strerror(err);
}

std::string advised(std::string line, const std::string& chosenWith, bool bare)
{
    constexpr std::string_view Prefix = "FENWIX: ";
    if (bare && line.compare(0, Prefix.size(), Prefix) == 0)
        line.erase(0, Prefix.size());
    if (chosenWith.empty())
        return line;
    constexpr std::string_view Variable = "set FENWIX_LPT1 to";
    const std::string option = "start the panel with " + chosenWith + " set to";
    for (auto at = line.find(Variable); at != std::string::npos;
         at = line.find(Variable, at + option.size()))
        line.replace(at, Variable.size(), option);
    return line;
}

Reporter advisedReporter(Reporter report, const std::string& chosenWith)
{
    if (chosenWith.empty() || !report)
        return report;
    return [report = std::move(report), chosenWith](std::string_view line) {
        report(advised(std::string(line), chosenWith));
    };
}

std::string deviceStatus(const std::string& device, int err)
{
    return device + (err ? " error: " + errorText(err) : std::string(" ok"));
}

Reporter stderrReporter()
{
    return [](std::string_view line) {
        std::string text(line);
        text += '\n';
        writeAll(STDERR_FILENO, text);
    };
}

std::string deviceProblem(const std::string& device, const char* step, int err)
{
    std::string line = "FENWIX: " + device + ": " + step + " failed: " + errorText(err) + "; ";
    switch (err) {
    case ENOENT:
        line += "load the parallel port drivers (sudo modprobe parport_pc ppdev), or set "
                "FENWIX_LPT1 to the right device or to virtual";
        break;
    case EACCES:
    case EPERM:
        line += accessRemedy(device);
        break;
    case ENOTTY:
    case EINVAL:
    case EISDIR:
        line += "this is not a parallel port (ppdev) device; set FENWIX_LPT1 to one such as "
                "/dev/parport0, or to virtual";
        break;
    case EBUSY:
        line += "another driver or program holds the port (the printer driver can be unloaded "
                "with sudo modprobe -r lp); trying again at the next write";
        break;
    case ENXIO:
    case ENODEV:
        line += "no parallel port answers behind this device; check the card and the "
                "parport_pc driver (dmesg)";
        break;
    default:
        line += "trying again at the next write";
        break;
    }
    return line;
}

void Reports::once(std::string& last, const std::string& line)
{
    std::lock_guard lock(m_mutex);
    if (line == last)
        return;
    last = line;
    if (m_report)
        m_report(line);
}

void Reports::cured(std::string& last, const std::string& device, const char* what)
{
    if (last.empty())
        return;
    last.clear();
    say("FENWIX: " + device + ": " + what);
}

int Reports::confirmed(std::string& last, const std::string& device, int held, int sent,
                       const char* parts, const char* remedy)
{
    if (held != sent) {
        once(last, "FENWIX: " + device + ": the " + parts + " hold " + std::to_string(held) +
                       " after " + std::to_string(sent) + " was sent; " + remedy +
                       "; trying again at the next write");
        return EIO;
    }
    cured(last, device, "writing again");
    return 0;
}

void Reports::say(const std::string& line)
{
    std::lock_guard lock(m_mutex);
    if (m_report)
        m_report(line);
}

void Reports::forgetParentThreads()
{
    new (&m_mutex) std::mutex;
}

} // namespace fenwix
