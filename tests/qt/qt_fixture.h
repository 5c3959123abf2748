// qt_fixture.h - runs the program's start-up on the Qt window layer (offscreen) in a temporary
// working directory holding a Param.ini, with the fake port and clock; helpers to reach the
// widgets and to collect the queued events.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QTest>
#include <QWidget>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "app/controls.h"
#include "app/param_file.h"
#include "app/program.h"
#include "platform/fake/fake.h"
#include "platform/qt/qt_platform.h"
#include "platform/window.h"

using EventList = std::vector<std::pair<int, int>>;  // kind, id

class QtWindowTest : public ::testing::Test {
protected:
    // 10 steps per mm, a 100 x 100 x 50 mm table, the machine at (0, 0, 10) mm.
    static constexpr ParamValues kParams = {0, 0, 0, 10, 10, 10, 100, 100, 50, 1, 3, 100, 0, 0, 10};

    void SetUp() override {
        fake::reset_port();
        fake::reset_clock();
        dir_ = std::filesystem::temp_directory_path() /
               ("cnc-qt-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
        std::filesystem::create_directories(dir_);
        old_dir_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
        // With Param.ini in place start-up shows no message box.
        ASSERT_TRUE(write_param_file(PARAM_FILE_NAME, kParams));
        ASSERT_TRUE(start_up());
        QWidget* w = window();
        ASSERT_NE(w, nullptr);
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w));
        take_events();
    }

    void TearDown() override {
        std::filesystem::current_path(old_dir_);
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    static QWidget* window() { return qt_platform::main_window(); }

    template <class T>
    static T* widget(int id) {
        return qobject_cast<T*>(qt_platform::control_widget(id));
    }

    // Every event waiting in the program's queue, in order.
    static EventList take_events() {
        EventList events;
        while (const int kind = platform::poll_event())
            events.emplace_back(kind, platform::event_id());
        return events;
    }

    std::filesystem::path dir_;

private:
    std::filesystem::path old_dir_;
    static inline int counter_ = 0;
};
