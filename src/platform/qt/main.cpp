// main.cpp - the controller's entry point: hands the arguments to the window layer and runs
// the program.
#include "app/program.h"
#include "platform/qt/qt_platform.h"

int main(int argc, char** argv) {
    qt_platform::set_arguments(argc, argv);
    return run_program();
}
