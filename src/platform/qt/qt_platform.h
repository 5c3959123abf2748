// qt_platform.h - what the Qt window layer offers beyond the platform seam: the program's
// arguments for the QApplication, and read access to its widgets for the Qt tests.
#pragma once

class QPixmap;
class QWidget;

namespace qt_platform {

// Keeps argc/argv for the QApplication that start_drawing_system creates.
void set_arguments(int argc, char** argv);
// True when the toolkit can open a display; checked before a QApplication exists, because
// the toolkit aborts the process when it cannot connect.
bool display_reachable();

// Null before open_window and after end_program.
QWidget* main_window();
QWidget* drawing_widget();
// Null for an id that was never created.
QWidget* control_widget(int id);
// Null for a picture that was not loaded.
const QPixmap* picture(int picture_id);

}  // namespace qt_platform
