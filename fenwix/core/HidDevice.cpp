// SPDX-License-Identifier: MIT
#include "fenwix/core/HidDevice.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace fenwix
{

namespace
{

constexpr unsigned VendorId = 0x16c0;
constexpr unsigned ProductId = 0x05df;
constexpr const char* Product = "USBRelay";
// Feature report 0: the report number, then 8 data bytes.
constexpr std::size_t ReportSize = 9;
constexpr std::uint8_t RelayOn = 0xFF, RelayOff = 0xFD, AllOn = 0xFE, AllOff = 0xFC;
constexpr std::size_t SerialSize = 5;
constexpr std::size_t StateByte = 7;

constexpr const char* Remedy =
    "give your user access to USB relay boards with a udev rule (see "
    "60-pc-automation-usbrelay.rules.example), then plug the board in again";

// The relay count a product name announces ("USBRelay4"), 0 when it names none.
int relaysOf(const std::string& name)
{
    const std::size_t at = name.find(Product);
    if (at == std::string::npos)
        return 0;
    const int n = std::atoi(name.c_str() + at + std::char_traits<char>::length(Product));
    return n >= 1 && n <= 8 ? n : 8;
}

// hidrawN nodes in numeric order, with their product name, that carry the
// relay boards' USB id.
std::vector<std::string> boardNodes(const std::string& classFolder)
{
    std::vector<std::pair<long, std::string>> found;
    if (DIR* dir = ::opendir(classFolder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string node = entry->d_name;
            if (node.rfind("hidraw", 0) != 0)
                continue;
            std::ifstream uevent(classFolder + "/" + node + "/device/uevent");
            bool ours = false, named = false;
            for (std::string line; std::getline(uevent, line);) {
                unsigned bus = 0, vendor = 0, product = 0;
                if (std::sscanf(line.c_str(), "HID_ID=%x:%x:%x", &bus, &vendor, &product) == 3)
                    ours = vendor == VendorId && product == ProductId;
                else if (line.rfind("HID_NAME=", 0) == 0)
                    named = relaysOf(line) > 0;
            }
            if (ours && named)
                found.emplace_back(std::atol(node.c_str() + 6), node);
        }
        ::closedir(dir);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> nodes;
    for (auto& [number, node] : found)
        nodes.push_back(std::move(node));
    return nodes;
}

// The serial as a status line may show it: printable ASCII up to the first NUL.
std::string serialOf(const unsigned char* data)
{
    std::string serial;
    for (std::size_t i = 0; i < SerialSize && data[i]; ++i)
        serial += data[i] > 0x20 && data[i] < 0x7F ? static_cast<char>(data[i]) : '?';
    return serial;
}

} // namespace

bool namesUsbRelayBoard(const std::string& choice)
{
    if (choice == "hid" || choice.rfind("hid:", 0) == 0)
        return true;
    char resolved[PATH_MAX];
    const std::string path = ::realpath(choice.c_str(), resolved) ? resolved : choice;
    const std::size_t slash = path.rfind('/');
    return path.compare(slash == std::string::npos ? 0 : slash + 1, 6, "hidraw") == 0;
}

HidDevice::HidDevice(std::string choice, DeviceOps ops, Reports& reports, HidFolders folders)
    : m_choice(std::move(choice)), m_ops(std::move(ops)), m_reports(reports),
      m_folders(std::move(folders)), m_name(m_choice)
{
}

HidDevice::~HidDevice()
{
    close();
}

int HidDevice::fail(const std::string& line, int err)
{
    close();
    m_reports.once(m_lastProblem, "FENWIX: " + line);
    return err;
}

void HidDevice::close()
{
    if (m_fd >= 0)
        m_ops.close(m_fd);
    m_fd = -1;
}

int HidDevice::getState(std::string* serial)
{
    unsigned char report[ReportSize] = {0};
    const int n = m_ops.ioctl(m_fd, HIDIOCGFEATURE(ReportSize), report);
    if (n < 0)
        return errno;
    if (n < static_cast<int>(ReportSize))
        return EPROTO;
    const unsigned char* data = report + 1;
    if (serial)
        *serial = serialOf(data);
    m_held = data[StateByte] & ((1 << m_relays) - 1);
    return 0;
}

int HidDevice::command(std::uint8_t code, std::uint8_t relay)
{
    unsigned char report[ReportSize] = {0, code, relay};
    return m_ops.ioctl(m_fd, HIDIOCSFEATURE(ReportSize), report) < 0 ? errno : 0;
}

// Opens node and learns its relays and serial; 0, or an errno value with the
// problem in words.
int HidDevice::openNode(const std::string& node, std::string& problem)
{
    m_fd = m_ops.open(node.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0) {
        const int err = errno;
        problem = node + ": open failed: " + errorText(err) + "; " +
                  (err == EACCES || err == EPERM ? Remedy
                   : err == ENOENT ? "plug the board in, or set FENWIX_LPT1 to hid to find it"
                                   : "trying again at the next write");
        return err;
    }
    m_node = node;
    char name[256] = {0};
    int relays = 0;
    if (m_ops.ioctl(m_fd, HIDIOCGRAWNAME(sizeof name - 1), name) >= 0)
        relays = relaysOf(name);
    if (relays == 0) {
        hidraw_devinfo info{};
        if (m_ops.ioctl(m_fd, HIDIOCGRAWINFO, &info) < 0 ||
            static_cast<unsigned short>(info.vendor) != VendorId ||
            static_cast<unsigned short>(info.product) != ProductId) {
            close();
            problem = node + " is not a USB relay board (USB id 16c0:05df); set FENWIX_LPT1 to "
                             "hid, hid:SERIAL or the hidraw node of such a board";
            return ENODEV;
        }
        relays = 8;
    }
    m_relays = relays;
    std::string serial;
    if (const int err = getState(&serial)) {
        close();
        problem = node + ": reading the relays failed: " + errorText(err) +
                  "; trying again at the next write";
        return err;
    }
    // A board without a serial is named by its node.
    m_name = serial.empty() ? node : "hid:" + serial;
    return 0;
}

int HidDevice::open()
{
    std::string problem;
    if (!(m_choice == "hid" || m_choice.rfind("hid:", 0) == 0)) {
        const int err = openNode(m_choice, problem);
        return err ? fail(problem, err) : 0;
    }
    // The first board, or the one with the serial; a node the user may not
    // open is what to tell when no board is found.
    const std::string wanted = m_choice == "hid" ? "" : m_choice.substr(4);
    std::string refused, serials;
    int refusedError = 0;
    for (const std::string& entry : boardNodes(m_folders.classFolder)) {
        if (const int err = openNode(m_folders.devFolder + "/" + entry, problem)) {
            if (!refusedError) {
                refused = m_choice + ": " + problem;
                refusedError = err;
            }
            continue;
        }
        if (wanted.empty() || m_name == m_choice)
            return 0;
        serials += (serials.empty() ? "" : ", ") +
                   (m_name.rfind("hid:", 0) == 0 ? m_name.substr(4) : "none at " + m_name);
        close();
    }
    m_name = m_choice;
    if (refusedError)
        return fail(refused, refusedError);
    if (wanted.empty())
        return fail(m_choice + ": no USB relay board (USB id 16c0:05df, USBRelay1, 2, 4 or 8) is "
                               "plugged in; plug one in, or set FENWIX_LPT1 to a parallel port "
                               "or to virtual",
                    ENODEV);
    return fail(m_choice + ": no USB relay board with serial " + wanted + " is plugged in" +
                    (serials.empty()
                         ? "; plug it in, or set FENWIX_LPT1 to hid for any board"
                         : " (found: " + serials + "); set FENWIX_LPT1 to hid: and one of those"),
                ENODEV);
}

int HidDevice::write(std::uint8_t byte)
{
    m_disagrees = false;
    int err = m_fd < 0 ? open() : 0;
    if (err)
        return err;
    const int mask = (1 << m_relays) - 1;
    const int target = byte & mask;
    if ((byte & ~mask) && !m_toldFewer) {
        m_toldFewer = true;
        m_reports.say("FENWIX: " + m_name + " has " + std::to_string(m_relays) +
                      " relays: channels " + std::to_string(m_relays) + " to 7 are not switched");
    }
    const int changed = (m_held ^ target) & mask;
    if (std::popcount(static_cast<unsigned>(changed)) > 1 && (target == mask || target == 0)) {
        err = command(target ? AllOn : AllOff, 0);
    } else {
        for (int relay = 0; relay < m_relays && !err; ++relay)
            if (changed & (1 << relay))
                err = command(target & (1 << relay) ? RelayOn : RelayOff,
                              static_cast<std::uint8_t>(relay + 1));
    }
    if (!err)
        err = getState(nullptr);
    if (err)
        return fail(m_name + " (" + m_node + "): writing failed: " + errorText(err) +
                        (err == ENODEV || err == EIO || err == ENOENT
                             ? "; the board was unplugged or stopped answering; trying again "
                               "at the next write"
                             : "; trying again at the next write"),
                    err);
    m_disagrees = m_held != target;
    if (m_disagrees)
        return fail(m_name + ": the board holds " + std::to_string(m_held) + " after " +
                        std::to_string(target) +
                        " was sent; check its power supply; trying again at the next write",
                    EIO);
    m_reports.cured(m_lastProblem, m_name, "writing again");
    return 0;
}

int HidDevice::read()
{
    if (m_fd < 0 && open() != 0)
        return -1;
    if (const int err = getState(nullptr)) {
        fail(m_name + " (" + m_node + "): reading failed: " + errorText(err), err);
        return -1;
    }
    // Reached again (plugged back in): that problem is over. A board that
    // did not switch stays in error until a write succeeds.
    if (!m_disagrees)
        m_reports.cured(m_lastProblem, m_name, "answering again");
    return m_held;
}

} // namespace fenwix
