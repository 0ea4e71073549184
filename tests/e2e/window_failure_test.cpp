// The real program on a real X server (Xvfb), driven the way an operator
// drives it: the window comes up, "Process" is clicked, a failure shows its
// message box, the box is read and dismissed, and the program ends.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "support/background_program.h"
#include "support/dump_line.h"
#include "support/program.h"
#include "support/run_inputs.h"
#include "support/temp_dir.h"

namespace fennick::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kWindowName = "Fennick 1.0";
constexpr const char* kBoxName = "^Fennick$";  // the message box's title, whole
// The centre of "Process" in the client area: twips 1200 + 1695 / 2 and
// 6360 + 735 / 2, at 15 twips to the pixel.
constexpr int kProcessX = 136;
constexpr int kProcessY = 448;

// A virtual X server on a display that it picks itself among the free ones
// (-displayfd), so that parallel runs and other servers on the machine never
// collide. Stopped when the object goes.
class VirtualScreen {
  public:
    explicit VirtualScreen(const TempDir& scratch) {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        server_ = std::make_unique<Child>(
            std::vector<std::string>{"Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x24",
                                     "-nolisten", "tcp"},
            ChildOptions{.errors = scratch.file("xvfb-errors")}, ends[1]);
        close(ends[1]);
        std::string number;
        pollfd ready{ends[0], POLLIN, 0};
        const auto deadline = std::chrono::steady_clock::now() + 15s;
        while (number.find('\n') == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            if (poll(&ready, 1, 200) <= 0)
                continue;
            char buffer[32];
            const ssize_t count = read(ends[0], buffer, sizeof buffer);
            if (count <= 0)
                break;
            number.append(buffer, static_cast<std::size_t>(count));
        }
        close(ends[0]);
        if (number.find('\n') == std::string::npos) {
            throw std::runtime_error("Xvfb gave no display number within 15 s: " +
                                     readFile(scratch.file("xvfb-errors")));
        }
        // Appended rather than put before the number: GCC 12 takes an insert
        // at the front of a string for an overlapping copy (-Wrestrict).
        number.resize(number.find('\n'));
        display_ = ":";
        display_ += number;
    }

    const std::string& display() const { return display_; }

    // An xdotool or xclip command on this display, stopped after `seconds`.
    Captured run(const std::string& command, int seconds = 10) const {
        return runShell("DISPLAY=" + display_ + " " + command, seconds);
    }

  private:
    std::unique_ptr<Child> server_;
    std::string display_;
};

// The id of the one shown window whose name matches, waiting up to
// `seconds` for it; empty when there is none.
std::string shownWindow(const VirtualScreen& screen, const std::string& namePattern, int seconds) {
    const Captured found = screen.run(
        "xdotool search --sync --onlyvisible --name " + shellQuoted(namePattern) + " | head -n 1",
        seconds);
    std::string id = found.output;
    while (!id.empty() && (id.back() == '\n' || id.back() == ' '))
        id.pop_back();
    return id;
}

std::string clipboardText(const VirtualScreen& screen) {
    // The box puts the text there on its own time; ask a few times.
    for (int attempt = 0; attempt < 25; ++attempt) {
        const Captured clip = screen.run("xclip -o -selection clipboard 2>/dev/null", 5);
        if (clip.status == 0 && !clip.output.empty())
            return clip.output;
        std::this_thread::sleep_for(200ms);
    }
    return {};
}

// A dump whose first line passes the start-up but whose second line has no
// number as its start time: "Process" fails in the extraction, after the
// configuration was read, and the operator must be told what and where.
TEST(WindowOnARealScreen, FailedProcessShowsKindAndPlaceInABoxAndEndsWithStatus1) {
    for (const char* tool : {"Xvfb", "xdotool", "xclip"}) {
        ASSERT_TRUE(onPath(tool)) << tool
                                  << " is missing: this test needs the Debian packages xvfb, "
                                     "xdotool and xclip (scripts/install-deps.sh)";
    }
    TempDir appDir;
    TempDir scratch;
    const auto program = installProgram(appDir);
    appDir.write("fennick_config.txt", configText());
    appDir.write("policy_list.txt", "PolA\r\n");
    // Line 1 starts in the year 2100, after any window, and is passed over;
    // line 2 is the first whose start time is read as a number.
    appDir.write("bpdbjobs.txt",
                 dumpLine({.id = "4712", .policy = "PolA", .start = 4102444800}) +
                     dumpLine({.id = "4711", .policy = "PolA", .startText = "12a"}));
    // Qt wants a runtime directory of its own, and says so on stderr otherwise.
    const auto runtimeDir = scratch.file("runtime");
    std::filesystem::create_directory(runtimeDir);
    std::filesystem::permissions(runtimeDir, std::filesystem::perms::owner_all);

    const VirtualScreen screen(scratch);
    // There is no session bus; left to itself, libdbus tries to start one
    // and loses memory on the way, which the sanitizer build reports on
    // stderr at exit. The style is pinned because the box's text is read by
    // selecting it, which the style allows or not.
    Child fennick({program.string()},
                  {.environment = {"DISPLAY=" + screen.display(), "QT_QPA_PLATFORM=xcb",
                                   "XDG_RUNTIME_DIR=" + runtimeDir.string(), "WAYLAND_DISPLAY",
                                   "DBUS_SESSION_BUS_ADDRESS=disabled:", "QT_STYLE_OVERRIDE=Fusion",
                                   "QT_QPA_PLATFORMTHEME"},
                   .errors = scratch.file("stderr"),
                   .workDir = scratch.path()});

    const std::string window = shownWindow(screen, kWindowName, 20);
    ASSERT_FALSE(window.empty()) << "no window within 20 s; stderr: "
                                 << readFile(scratch.file("stderr"));
    ASSERT_TRUE(fennick.running());

    // Click "Process" the way an operator does; a click that comes before
    // the window takes input is clicked again.
    std::string box;
    for (int attempt = 0; attempt < 3 && box.empty() && fennick.running(); ++attempt) {
        screen.run("xdotool mousemove --sync --window " + window + " " + std::to_string(kProcessX) +
                   " " + std::to_string(kProcessY) + " click 1");
        box = shownWindow(screen, kBoxName, 10);
        if (box.empty())
            std::cout << "no box 10 s after click " << attempt + 1 << "\n";
    }
    ASSERT_FALSE(box.empty()) << "no message box after clicking Process; stderr: "
                              << readFile(scratch.file("stderr"));
    EXPECT_TRUE(shownWindow(screen, kWindowName, 1).empty())
        << "the main window stays on the screen behind the message";

    // The box's text is selectable: click into it, select all and copy.
    const Captured geometry = screen.run("xdotool getwindowgeometry --shell " + box);
    const auto widthAt = geometry.output.find("WIDTH=");
    ASSERT_NE(widthAt, std::string::npos) << geometry.output;
    const int width = std::stoi(geometry.output.substr(widthAt + 6));
    screen.run("xdotool mousemove --sync --window " + box + " " + std::to_string(width / 2) +
               " 20 click 1 sleep 0.2 key ctrl+a ctrl+c");
    const std::string text = clipboardText(screen);
    EXPECT_EQ(text.rfind("Type mismatch", 0), 0u) << "box text: " << text;
    EXPECT_NE(text.find("bpdbjobs.txt line 2, field 8"), std::string::npos) << "box text: " << text;
    EXPECT_NE(text.find("12a"), std::string::npos) << "box text: " << text;

    screen.run("xdotool key Return");
    const std::optional<int> status = fennick.waitFor(10s);
    ASSERT_TRUE(status.has_value()) << "the program did not end after the box was dismissed";
    EXPECT_EQ(*status, 1);
    EXPECT_EQ(readFile(scratch.file("stderr")), "") << "the box is the report, not stderr";
    // The steps after the failing one did not run.
    EXPECT_FALSE(appDir.exists("out1.txt"));
    for (const auto& entry : std::filesystem::directory_iterator(appDir.path()))
        EXPECT_NE(entry.path().extension(), ".html") << "a page was written: " << entry.path();
}

}  // namespace
}  // namespace fennick::test
