// SPDX-License-Identifier: MIT
// GPIO boards in the guest: a CP2112 made through uhid becomes a real
// gpiochip through the kernel's hid-cp2112, and a child of vmcheck answers its
// reports as the chip does, recording every pin state.
#include "tests/support/Cp2112.h"
#include "tests/vm/Guest.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>

namespace guest
{

// A CP2112 with serial, until killed (unplugged): hid-cp2112 makes it a
// gpiochip labelled cp2112_gpio. Appends the pins to /tmp/pins-SERIAL after
// each set; refused: pins that do not switch.
int cp2112(const std::string& serial, unsigned refused)
{
    static const unsigned char descriptor[] = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15,
                                               0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x40,
                                               0x09, 0x00, 0xB2, 0x02, 0x01, 0xC0};
    std::ofstream log("/tmp/pins-" + serial, std::ios::app);
    standin::Cp2112 chip;
    chip.refused = refused;
    return serveUhid(
        {"CP2112 HID USB-to-SMBus Bridge", serial, descriptor, 0x10c4, 0xea90},
        [&](unsigned char rnum, unsigned char* data) { return chip.answer(rnum, data); },
        [&](const unsigned char* data, std::size_t size) {
            if (chip.set(data, size))
                log << chip.pins() << "\n" << std::flush;
        });
}

namespace
{

// The gpiochip of the fake CP2112 with serial, empty while there is none.
std::string gpiochipOf(const std::string& serial)
{
    return nodeWithUniq("/sys/bus/gpio/devices", "/../uevent", serial);
}

Board plugChip(const std::string& serial, unsigned refused = 0)
{
    return plug({"cp2112", serial, std::to_string(refused)}, [&] { return gpiochipOf(serial); });
}

void unplugChip(const Board& b, const std::string& serial)
{
    unplug(b, [&] { return gpiochipOf(serial); });
}

std::vector<int> pinLog(const std::string& serial)
{
    return statesIn("/tmp/pins-" + serial);
}

// Whether wanted shows in seen in order (each line is set on its own, so
// states pass between them), ending with its last.
bool inOrder(const std::vector<int>& seen, const std::vector<int>& wanted)
{
    std::size_t next = 0;
    for (const int state : seen)
        next += next < wanted.size() && state == wanted[next];
    return next == wanted.size() && !seen.empty() && seen.back() == wanted.back();
}

} // namespace

void gpioBoards()
{
    const std::string label = "FENWIX_LPT1=gpio:cp2112_gpio";
    const Run none = run({"writer", "7"}, {label, "FENWIX_BOARD=/tmp/board-nogpio"});
    report("GPIO: with no chip, one message naming the label, and an error status",
           none.err.find("no GPIO chip labelled cp2112_gpio") != std::string::npos &&
               readFile("/tmp/board-nogpio").rfind("7\ngpio:cp2112_gpio error: ", 0) == 0,
           show(none.err + readFile("/tmp/board-nogpio")));

    Board one = plugChip("G1AAA");
    report("GPIO: the fake CP2112 becomes a gpiochip through hid-cp2112", !one.node.empty());
    const Run values =
        run({"writer", "1", "5", "255", "0", "170"}, {label, "FENWIX_BOARD=/tmp/board-g1"});
    report("GPIO: 1, 5, 255, 0, 170 reach the chip's pins in order",
           values.status == 0 && inOrder(pinLog("G1AAA"), {1, 5, 255, 0, 170}), show(values.err));
    report("GPIO: the board file names the chip by its label",
           readFile("/tmp/board-g1") == "170\ngpio:cp2112_gpio ok\n",
           show(readFile("/tmp/board-g1")));
    const std::size_t pinsSet = pinLog("G1AAA").size();
    const Run back = run({"reader"}, {label});
    report("GPIO: a fresh process reads the lines back, changing none",
           back.out == "170\n" && pinLog("G1AAA").size() == pinsSet, show(back.out));
    const Run chosen = run({"writer", "17"}, {label + ":7,6,5,4:active-low"});
    report("GPIO: four lines, active-low, make a four-relay board: channel 0 on sets line 7 "
           "low, lines 6 to 4 high; channel 4 is ignored, said once",
           lastOf(pinLog("G1AAA")) == 0x7A &&
               chosen.err.find("has 4 lines: channels 4 to 7 are not switched") !=
                   std::string::npos,
           show(chosen.err));
    const Run beyond = run({"writer", "1"}, {label + ":9"});
    report("GPIO: a line beyond the chip is named",
           beyond.err.find("line 9 is beyond") != std::string::npos, show(beyond.err));

    const Board two = plugChip("G2BBB");
    const Run bySerial = run({"writer", "3"}, {label + "@G2BBB"});
    const Run first = run({"writer", "0"}, {label});
    report("GPIO: LABEL@SERIAL picks one of two chips; the plain label takes the first and "
           "names the other",
           lastOf(pinLog("G2BBB")) == 3 && lastOf(pinLog("G1AAA")) == 0 &&
               first.err.find("also labelled cp2112_gpio") != std::string::npos &&
               first.err.find("G2BBB") != std::string::npos,
           show(bySerial.err + first.err));
    const Run holding = run({"hold"}, {label + "@G2BBB"}, nullptr, true);
    waitFor([] { return lastOf(pinLog("G2BBB")) == 1; });
    const Run busy = run({"writer", "2"}, {label + "@G2BBB"});
    ::kill(holding.status, SIGKILL);
    ::waitpid(holding.status, nullptr, 0);
    report("GPIO: lines another program holds are named with its consumer label",
           busy.err.find("another program holds them") != std::string::npos &&
               busy.err.find("\"pc-automation\"") != std::string::npos,
           show(busy.err));

    const Board three = plugChip("G3CCC", 0x04);
    const Run refused = run({"writer", "4"}, {label + "@G3CCC", "FENWIX_BOARD=/tmp/board-g3"});
    report("GPIO: a chip that does not switch a line gives an error status, never ok",
           readFile("/tmp/board-g3").rfind("4\ngpio:cp2112_gpio@G3CCC error: ", 0) == 0 &&
               refused.err.find("the lines hold 0 after 4") != std::string::npos,
           show(refused.err + readFile("/tmp/board-g3")));

    // Unplugged and plugged back while one program drives it.
    const Run driver =
        run({"steps", "3", "wait:/tmp/g-out", "4", "wait:/tmp/g-back", "6", "wait:/tmp/g-end"},
            {label + "@G1AAA", "FENWIX_BOARD=/tmp/board-greplug"}, nullptr, true);
    auto boardSays = [](const std::string& start) {
        return waitFor([&] { return readFile("/tmp/board-greplug").rfind(start, 0) == 0; });
    };
    const bool before = boardSays("3\ngpio:cp2112_gpio@G1AAA ok\n");
    const std::string firstNode = one.node;
    unplugChip(one, "G1AAA");
    std::ofstream("/tmp/g-out") << "\n";
    const bool gone = boardSays("4\ngpio:cp2112_gpio@G1AAA error: ");
    const Board filler = plugChip("G4DDD"); // takes the number it had
    one = plugChip("G1AAA");
    std::ofstream("/tmp/g-back") << "\n";
    const bool again = boardSays("6\ngpio:cp2112_gpio@G1AAA ok\n") && lastOf(pinLog("G1AAA")) == 6;
    std::ofstream("/tmp/g-end") << "\n";
    ::waitpid(driver.status, nullptr, 0);
    report("GPIO: unplugged gives an error status, plugged back under another number it works "
           "again",
           before && gone && again && one.node != firstNode,
           show(readFile("/tmp/board-greplug") + firstNode + " " + one.node));

    ::chmod(two.node.c_str(), 0600);
    ::chmod(one.node.c_str(), 0600);
    ::chmod(three.node.c_str(), 0600);
    const User outsider{1001, 1001, {}};
    const Run denied = run({"writer", "1"}, {label}, &outsider);
    report("GPIO: a chip the user may not open gives the permission message",
           denied.err.find("Permission denied") != std::string::npos &&
               denied.err.find("udev rule") != std::string::npos,
           show(denied.err));
    for (const auto& [board, serial] :
         {std::pair{one, "G1AAA"}, {two, "G2BBB"}, {three, "G3CCC"}, {filler, "G4DDD"}})
        unplugChip(board, serial);
}

} // namespace guest
