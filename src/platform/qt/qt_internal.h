// qt_internal.h - shared between the files of the Qt layer, not used outside it.
#pragma once

#include <QObject>

namespace qt_platform {

// Appends one event to the program's own queue, taken by poll_event.
void push_event(int kind, int id);

// Gives the display check the program's arguments (-platform, -display).
void remember_arguments_for_display(int argc, char** argv);

// Watches the X connection of the QApplication just made, until forget_display_connection
// (before the application goes).
void watch_display_connection();
void forget_display_connection();
// Ends the program at once, the parameters saved, when the display connection was lost: called
// before any work of the toolkit that would use it.
void end_if_display_lost();

// Creates the application-wide key filter that turns registered keys into shortcut events.
QObject* make_key_filter(QObject* parent);

}  // namespace qt_platform
