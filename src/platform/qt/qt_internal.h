// qt_internal.h - shared between the files of the Qt layer, not used outside it.
#pragma once

#include <QObject>

namespace qt_platform {

// Appends one event to the program's own queue, taken by poll_event.
void push_event(int kind, int id);

// Gives the display check the program's arguments (-platform, -display).
void remember_arguments_for_display(int argc, char** argv);

// Creates the application-wide key filter that turns registered keys into shortcut events.
QObject* make_key_filter(QObject* parent);

}  // namespace qt_platform
