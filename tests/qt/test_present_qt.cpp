// test_present_qt.cpp - presenting the drawing area and pacing to the display's frames, the
// display check before the toolkit starts, "Screen error" without a display, and the end.
#include <sys/socket.h>
#include <sys/un.h>

#include <QScreen>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>

#include "qt_fixture.h"

namespace {

// Ends the toolkit once after all tests, and checks that later calls are harmless.
class EndOfProgram : public ::testing::Environment {
public:
    void TearDown() override {
        platform::end_program();
        EXPECT_EQ(qt_platform::main_window(), nullptr);
        EXPECT_EQ(QCoreApplication::instance(), nullptr);
        EXPECT_EQ(platform::poll_event(), ids::EVENT_NONE);
        platform::set_control_value(ids::FIELD_FIRST, 5);
        EXPECT_EQ(platform::control_value(ids::FIELD_FIRST), 0);
        EXPECT_EQ(platform::focused_control(), -1);
        EXPECT_EQ(platform::choose_file("t", "/", "", 0), "");
    }
};
const auto* const end_of_program = ::testing::AddGlobalTestEnvironment(new EndOfProgram);

// Sets environment variables for one scope (nullptr unsets) and restores them after.
class Environment {
public:
    void set(const char* name, const char* value) {
        if (!saved_.count(name)) {
            const char* old = std::getenv(name);
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~Environment() {
        for (const auto& [name, value] : saved_) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace

TEST_F(QtWindowTest, PresentShowsTheAreaAndWaitsForTheNextFrameBoundary) {
    platform::DrawingArea area;
    platform::open_area(area, 774, 728, 0x25033A);
    platform::area_circle(area, 100, 100, 10, 0xFF0000, true);
    platform::area_line(area, 0, 700, 773, 700, 0x00FF00);

    fake::clock.now_ns = 0;
    platform::present(area);
    const QImage shown = qt_platform::drawing_widget()->grab().toImage();
    EXPECT_EQ(shown.pixel(100, 100) & 0xFFFFFFu, 0xFF0000u);
    EXPECT_EQ(shown.pixel(0, 700) & 0xFFFFFFu, 0x00FF00u);
    EXPECT_EQ(shown.pixel(773, 727) & 0xFFFFFFu, 0x25033Au);

    // Frame boundaries lie on one grid from the first present: a late pass waits for the
    // next one, and a pass exactly on a boundary waits a whole frame.
    const double hz = window()->screen()->refreshRate();
    const std::int64_t period = std::llround(1e9 / (hz >= 1 ? hz : 60));
    EXPECT_EQ(fake::clock.now_ns, period);
    fake::clock.now_ns += 40'000'000;
    platform::present(area);
    EXPECT_EQ(fake::clock.now_ns, ((period + 40'000'000) / period + 1) * period);
    fake::clock.now_ns = 6 * period;
    platform::present(area);
    EXPECT_EQ(fake::clock.now_ns, 7 * period);
}

TEST(DisplayCheck, AnswersWhetherTheToolkitCouldOpenItsPlatform) {
    // A Unix socket standing in for a Wayland compositor, and a folder holding a stand-in for
    // the Wayland platform plugin (the real X11 and offscreen plugins are installed).
    const std::filesystem::path runtime =
        std::filesystem::temp_directory_path() / ("cnc-qt-runtime-" + std::to_string(::getpid()));
    const std::filesystem::path plugins = runtime / "plugins";
    std::filesystem::create_directories(plugins);
    std::ofstream(plugins / "libqwayland-generic.so") << "";
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socket_path = (runtime / "wayland-test").string();
    std::strncpy(address.sun_path, socket_path.c_str(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);

    struct Case {
        const char* platform;         // QT_QPA_PLATFORM
        const char* display;          // DISPLAY
        const char* wayland_display;  // WAYLAND_DISPLAY
        const char* session;          // XDG_SESSION_TYPE
        bool wayland_plugin;
        bool reachable;
    };
    const Case cases[] = {
        {"offscreen", nullptr, nullptr, nullptr, false, true},
        {"no-such-platform", nullptr, nullptr, nullptr, false, false},
        {"xcb", ":8765", nullptr, nullptr, false, false},
        {"xcb", nullptr, nullptr, nullptr, false, false},
        {nullptr, ":8765", nullptr, nullptr, false, false},           // X11 is the default
        {nullptr, ":8765", "wayland-test", "wayland", true, true},    // a Wayland session
        {nullptr, ":8765", "wayland-test", "wayland", false, false},  // without its plugin
        {nullptr, ":8765", "wayland-test", nullptr, true, false},     // no session: X11 only
        {"wayland", nullptr, "wayland-none", nullptr, true, false},
        {"wayland", nullptr, "wayland-test", nullptr, true, true},
        {"wayland;xcb", ":8765", "wayland-none", nullptr, true, false},
        {"xcb;offscreen", ":8765", nullptr, nullptr, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("QT_QPA_PLATFORM=") + (c.platform ? c.platform : "(unset)") +
                     " DISPLAY=" + (c.display ? c.display : "(unset)") +
                     " WAYLAND_DISPLAY=" + (c.wayland_display ? c.wayland_display : "(unset)") +
                     " XDG_SESSION_TYPE=" + (c.session ? c.session : "(unset)") +
                     (c.wayland_plugin ? " with" : " without") + " the Wayland plugin");
        Environment env;
        env.set("QT_QPA_PLATFORM", c.platform);
        env.set("DISPLAY", c.display);
        env.set("WAYLAND_DISPLAY", c.wayland_display);
        env.set("XDG_SESSION_TYPE", c.session);
        env.set("XDG_RUNTIME_DIR", runtime.c_str());
        env.set("QT_QPA_PLATFORM_PLUGIN_PATH", c.wayland_plugin ? plugins.c_str() : nullptr);
        env.set("QT_PLUGIN_PATH", nullptr);
        EXPECT_EQ(qt_platform::display_reachable(), c.reachable);
    }
    ::close(fd);
    std::filesystem::remove_all(runtime);
}

TEST(ScreenErrorDeathTest, WithoutADisplayTheProgramReportsOnStandardErrorAndFails) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process, with no toolkit yet
    EXPECT_EXIT(
        {
            ::setenv("QT_QPA_PLATFORM", "xcb", 1);
            ::setenv("DISPLAY", ":8765", 1);
            ::unsetenv("XDG_SESSION_TYPE");
            std::exit(run_program());
        },
        ::testing::ExitedWithCode(1), "Screen error: Screen error");
}
