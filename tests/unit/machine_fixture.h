// machine_fixture.h - a test fixture that runs the real program on the fake platform in a
// temporary working directory, with helpers to write Param.ini and job files and to run passes.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/controls.h"
#include "app/param_file.h"
#include "app/program.h"
#include "platform/fake/fake.h"

class MachineTest : public ::testing::Test {
protected:
    // Fields 20..34 in order.
    using Params = std::array<std::int32_t, 15>;

    // 10 steps per mm everywhere, a 100 x 100 x 50 mm table, 1 ms steps, depth 3 mm,
    // scale 100 %, the machine at (0, 0, 10) mm.
    static constexpr Params kParams = {0, 0, 0, 10, 10, 10, 100, 100, 50, 1, 3, 100, 0, 0, 10};

    void SetUp() override {
        fake::reset_all();
        reset_program_state();
        dir_ = std::filesystem::temp_directory_path() /
               ("cnc-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
        std::filesystem::create_directories(dir_);
        old_dir_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
    }

    void TearDown() override {
        std::filesystem::current_path(old_dir_);
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    void write_params(const Params& values) { write_param_file("Param.ini", values); }

    void write_bytes(const std::string& name, const std::string& bytes) {
        std::ofstream out(dir_ / name, std::ios::binary);
        out << bytes;
    }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    // Param.ini with kParams (or the given values), then the program's start-up.
    void start(const Params& values = kParams) {
        write_params(values);
        ASSERT_TRUE(start_up());
    }

    // Runs passes until the loop asks to end or `max` passes ran; returns the passes run.
    int run(int max) {
        for (int i = 0; i < max; ++i) {
            if (run_pass()) return i + 1;
        }
        return max;
    }
    void pass() { run_pass(); }

    // Opens a job through the file dialog as the operator would.
    void open_job(const std::string& name) {
        fake::window.dialog_answers.push_back(path(name));
        fake::click(ids::OPEN_FILE_BUTTON);
        pass();
    }

    fake::Control& control(int id) { return fake::window.controls[id]; }
    std::vector<std::string> message_texts() const {
        std::vector<std::string> texts;
        for (const auto& m : fake::window.messages) texts.push_back(m.text);
        return texts;
    }

    std::filesystem::path dir_;
    std::filesystem::path old_dir_;
    static inline int counter_ = 0;
};
