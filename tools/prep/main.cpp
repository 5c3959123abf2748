// main.cpp - cncmirel-prep's entry point.
#include <cstdio>
#include <string>
#include <vector>

#include "prep.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return prep::run_command_line(args, stdout, stderr);
}
