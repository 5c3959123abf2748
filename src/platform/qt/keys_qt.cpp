// keys_qt.cpp - keyboard shortcuts on bare keys: an application-wide filter takes a registered
// key for any widget of window 0 before the focused control sees it, and queues a shortcut
// event. Keys inside a message box or the file dialog are left to them.
#include <QApplication>
#include <QKeyEvent>
#include <QSet>
#include <QWidget>
#include <vector>

#include "base/ids.h"
#include "platform/qt/qt_internal.h"
#include "platform/qt/qt_platform.h"
#include "platform/window.h"

namespace qt_platform {

namespace {

struct Shortcut {
    int qt_key;
    int shortcut_id;
};
std::vector<Shortcut> shortcuts;

// The Russian layout puts these letters on the keys of A to Z; the shortcut belongs to the
// key, whichever layout the operator has switched to.
constexpr char16_t RUSSIAN_LETTER_ON_KEY[26] = {
    u'Ф', u'И', u'С', u'В', u'У', u'А', u'П', u'Р', u'Ш', u'О', u'Л', u'Д', u'Ь',
    u'Т', u'Щ', u'З', u'Й', u'К', u'Ы', u'Е', u'Г', u'М', u'Ц', u'Ч', u'Н', u'Я',
};

// The Qt key of a key code of the program (virtual-key numbering); 0 when there is none.
int qt_key_of(int key_code) {
    switch (key_code) {
        case ids::KEY_ESC:
            return Qt::Key_Escape;
        case ids::KEY_LEFT:
            return Qt::Key_Left;
        case ids::KEY_UP:
            return Qt::Key_Up;
        case ids::KEY_RIGHT:
            return Qt::Key_Right;
        case ids::KEY_DOWN:
            return Qt::Key_Down;
        default:
            break;
    }
    // Digits and capital letters share their ASCII codes with Qt's keys.
    if ((key_code >= '0' && key_code <= '9') || (key_code >= 'A' && key_code <= 'Z')) {
        return key_code;
    }
    return 0;
}

bool is_digit_key(int qt_key) {
    return qt_key >= Qt::Key_0 && qt_key <= Qt::Key_9;
}

// The shortcut id of a key event, 0 when the key is not a registered bare key.
int shortcut_of(const QKeyEvent& event) {
    const Qt::KeyboardModifiers mods = event.modifiers();
    if (mods & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) {
        return 0;
    }
    int key = event.key();
    // Digits of the numeric pad are not the digit shortcuts.
    if (is_digit_key(key) && (mods & Qt::KeypadModifier)) return 0;
    for (int i = 0; i < 26; ++i) {
        if (key == RUSSIAN_LETTER_ON_KEY[i]) key = 'A' + i;
    }
    for (const Shortcut& s : shortcuts) {
        if (s.qt_key == key) return s.shortcut_id;
    }
    return 0;
}

// True for a widget of window 0 while no dialog is open.
bool in_main_window(QObject* object) {
    if (!object->isWidgetType()) return false;
    QWidget* window = main_window();
    if (!window || QApplication::activeModalWidget() || QApplication::activePopupWidget()) {
        return false;
    }
    return static_cast<QWidget*>(object)->window() == window;
}

class KeyFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type != QEvent::ShortcutOverride && type != QEvent::KeyPress &&
            type != QEvent::KeyRelease) {
            return false;
        }
        if (!in_main_window(watched)) return false;
        auto* key_event = static_cast<QKeyEvent*>(event);
        const int id = shortcut_of(*key_event);
        if (id == 0) {
            // The release of a key whose press was taken belongs to us too, even when a
            // modifier went down in between.
            if (type == QEvent::KeyRelease && held_.contains(key_event->key())) {
                if (!key_event->isAutoRepeat()) held_.remove(key_event->key());
                return true;
            }
            return false;
        }
        switch (type) {
            case QEvent::ShortcutOverride:
                // Claimed so that no toolkit shortcut runs; the key press follows.
                event->accept();
                return true;
            case QEvent::KeyPress:
                // One press is one event: the repeats of a held key are swallowed.
                if (!key_event->isAutoRepeat()) {
                    held_.insert(key_event->key());
                    push_event(ids::EVENT_SHORTCUT, id);
                }
                return true;
            default:  // KeyRelease
                if (!key_event->isAutoRepeat()) held_.remove(key_event->key());
                return true;
        }
    }

private:
    QSet<int> held_;
};

}  // namespace

QObject* make_key_filter(QObject* parent) {
    return new KeyFilter(parent);
}

}  // namespace qt_platform

namespace platform {

void register_shortcut(int key_code, int shortcut_id) {
    const int key = qt_platform::qt_key_of(key_code);
    if (key == 0) return;
    for (qt_platform::Shortcut& s : qt_platform::shortcuts) {
        if (s.qt_key == key) {
            s.shortcut_id = shortcut_id;  // registered again: the newer id holds
            return;
        }
    }
    qt_platform::shortcuts.push_back({key, shortcut_id});
}

}  // namespace platform
