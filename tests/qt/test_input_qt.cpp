// test_input_qt.cpp - what reaches the program's queue: shortcut keys taken before the focused
// control, control events from the operator only, the close box, and the focused control.
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>

#include "app/digit_entry.h"
#include "qt_fixture.h"

namespace {

const int SHORTCUT = ids::EVENT_SHORTCUT;
const int CONTROL = ids::EVENT_CONTROL;

QSpinBox* focus_field(int id) {
    auto* spin = qobject_cast<QSpinBox*>(qt_platform::control_widget(id));
    spin->setFocus(Qt::OtherFocusReason);
    return spin;
}

// Presses and releases a key with the text a keyboard would give it (QTest's own keyClick
// knows no text for keys beyond ASCII).
void click_key(QWidget* target, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    const QString text = key < 0x20 || key > 0x7FF ? QString() : QString(QChar(key)).toLower();
    QTest::sendKeyEvent(QTest::Click, target, static_cast<Qt::Key>(key), text, modifiers);
}

}  // namespace

TEST_F(QtWindowTest, ShortcutKeysNeverReachAFocusedSpinField) {
    struct Case {
        const char* name;
        int key;
        Qt::KeyboardModifiers modifiers;
        int shortcut;  // 0: not a shortcut
    };
    const Case cases[] = {
        {"Esc", Qt::Key_Escape, Qt::NoModifier, ids::SHORTCUT_ESC},
        {"Up", Qt::Key_Up, Qt::NoModifier, ids::SHORTCUT_UP},
        {"Down", Qt::Key_Down, Qt::NoModifier, ids::SHORTCUT_DOWN},
        {"Left", Qt::Key_Left, Qt::NoModifier, ids::SHORTCUT_LEFT},
        {"Right", Qt::Key_Right, Qt::NoModifier, ids::SHORTCUT_RIGHT},
        {"A", Qt::Key_A, Qt::NoModifier, ids::SHORTCUT_A},
        {"Z", Qt::Key_Z, Qt::NoModifier, ids::SHORTCUT_Z},
        {"1", Qt::Key_1, Qt::NoModifier, ids::SHORTCUT_DIGIT_1},
        {"5", Qt::Key_5, Qt::NoModifier, ids::SHORTCUT_DIGIT_1 + 4},
        {"9", Qt::Key_9, Qt::NoModifier, ids::SHORTCUT_DIGIT_1 + 8},
        {"0", Qt::Key_0, Qt::NoModifier, ids::SHORTCUT_DIGIT_0},
        // The A and Z keys under the Russian layout.
        {"Russian A key", 0x424, Qt::NoModifier, ids::SHORTCUT_A},
        {"Russian Z key", 0x42F, Qt::NoModifier, ids::SHORTCUT_Z},
        // Not bare, or not the main row: left to the field.
        {"Shift+A", Qt::Key_A, Qt::ShiftModifier, 0},
        {"Ctrl+Left", Qt::Key_Left, Qt::ControlModifier, 0},
        {"Alt+1", Qt::Key_1, Qt::AltModifier, 0},
        {"keypad 5", Qt::Key_5, Qt::KeypadModifier, 0},
        {"B", Qt::Key_B, Qt::NoModifier, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QSpinBox* spin = focus_field(ids::FIELD_TABLE_SIZE_X);
        platform::set_control_value(ids::FIELD_TABLE_SIZE_X, 100);
        ASSERT_EQ(platform::focused_control(), ids::FIELD_TABLE_SIZE_X);
        click_key(QApplication::focusWidget(), c.key, c.modifiers);
        const EventList events = take_events();
        if (c.shortcut != 0) {
            EXPECT_EQ(events, (EventList{{SHORTCUT, c.shortcut}}));
            EXPECT_EQ(spin->text(), QStringLiteral("100"));
            EXPECT_EQ(spin->value(), 100);
        } else {
            for (const auto& e : events) EXPECT_NE(e.first, SHORTCUT);
        }
    }
    // The keypad digit is typed by the field itself, as an operator edit.
    QSpinBox* spin = focus_field(ids::FIELD_TABLE_SIZE_X);
    spin->selectAll();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_7, Qt::KeypadModifier);
    EXPECT_EQ(spin->value(), 7);
    EXPECT_EQ(take_events(), (EventList{{CONTROL, ids::FIELD_TABLE_SIZE_X}}));
}

TEST_F(QtWindowTest, AHeldKeyRaisesOneShortcutEvent) {
    QWidget* target = focus_field(ids::FIELD_GOTO_X)->findChild<QLineEdit*>();
    const auto send = [&](QEvent::Type type, bool repeat) {
        QKeyEvent event(type, Qt::Key_Right, Qt::NoModifier, QString(), repeat);
        QApplication::sendEvent(target, &event);
    };
    send(QEvent::KeyPress, false);
    for (int i = 0; i < 3; ++i) {
        send(QEvent::KeyRelease, true);
        send(QEvent::KeyPress, true);
    }
    send(QEvent::KeyRelease, false);
    EXPECT_EQ(take_events(), (EventList{{SHORTCUT, ids::SHORTCUT_RIGHT}}));
    EXPECT_EQ(platform::control_value(ids::FIELD_GOTO_X), 0);
}

TEST_F(QtWindowTest, ShortcutsWorkWhateverHasTheFocus) {
    const std::pair<int, QWidget*> focus[] = {
        {ids::START_BUTTON, qt_platform::control_widget(ids::START_BUTTON)},
        {ids::PORT_CHECK_FIRST + 2, qt_platform::control_widget(ids::PORT_CHECK_FIRST + 2)},
        {-1, window()},
    };
    for (const auto& [id, w] : focus) {
        SCOPED_TRACE("focus " + std::to_string(id));
        w->setFocus(Qt::OtherFocusReason);
        EXPECT_EQ(platform::focused_control(), id);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Z);
        EXPECT_EQ(take_events(), (EventList{{SHORTCUT, ids::SHORTCUT_Z}}));
    }
}

// Digits typed over a focused field go through the program's own pass: 1, 2, 5 show 1, 12, 125.
TEST_F(QtWindowTest, DigitKeysEnterANumberThroughTheMainLoop) {
    QSpinBox* spin = focus_field(ids::FIELD_TABLE_SIZE_Y);
    const std::pair<Qt::Key, int> steps[] = {{Qt::Key_1, 1}, {Qt::Key_2, 12}, {Qt::Key_5, 125}};
    for (const auto& [key, shown] : steps) {
        QTest::keyClick(QApplication::focusWidget(), key);
        EXPECT_FALSE(run_pass());
        EXPECT_EQ(spin->value(), shown);
        EXPECT_EQ(spin->text(), QString::number(shown));
    }
    EXPECT_EQ(digit_buffer, "125");
}

TEST_F(QtWindowTest, ProgramChangesRaiseNoEvents) {
    platform::set_control_value(ids::FIELD_BACKLASH_X, 77);
    platform::set_control_text(ids::FIELD_BACKLASH_Y, "55");
    platform::set_back_colour(ids::FIELD_BACKLASH_Z, ids::COLOUR_CHANGED);
    platform::set_control_value(ids::PORT_CHECK_FIRST, 1);
    platform::set_control_value(ids::PROGRESS_BAR, 5);
    platform::set_control_text(ids::LABEL_PROGRAM_TYPE, "Сверление");
    platform::set_control_picture(ids::INDICATOR_FIRST, ids::PICTURE_BIT_ON);
    platform::hide_control(ids::OPEN_FILE_BUTTON);
    EXPECT_EQ(take_events(), EventList{});

    EXPECT_EQ(platform::control_value(ids::FIELD_BACKLASH_X), 77);
    EXPECT_EQ(platform::control_value(ids::FIELD_BACKLASH_Y), 55);  // the text is read back
    EXPECT_EQ(platform::control_value(ids::PORT_CHECK_FIRST), 1);
    EXPECT_TRUE(widget<QCheckBox>(ids::PORT_CHECK_FIRST)->isChecked());
    EXPECT_EQ(platform::control_value(ids::PROGRESS_BAR), 5);
    EXPECT_EQ(widget<QLabel>(ids::LABEL_PROGRAM_TYPE)->text(), QStringLiteral("Сверление"));
    EXPECT_EQ(widget<QLabel>(ids::INDICATOR_FIRST)->pixmap().toImage().pixel(7, 7),
              qRgb(0, 0, 255));
    EXPECT_FALSE(qt_platform::control_widget(ids::OPEN_FILE_BUTTON)->isVisible());
    platform::show_control(ids::OPEN_FILE_BUTTON);
    EXPECT_TRUE(qt_platform::control_widget(ids::OPEN_FILE_BUTTON)->isVisible());
}

TEST_F(QtWindowTest, ValuesOutsideTheRangeGoToTheNearestBound) {
    struct Case {
        int id;
        std::int32_t set, read;
    };
    const Case cases[] = {
        {ids::FIELD_SCALE_PERCENT, 500, 100},
        {ids::FIELD_STEPS_PER_MM_X, 0, 1},
        {ids::FIELD_GOTO_X, -3, 0},
        {ids::FIELD_TIME_MS, 1000, 999},
        {ids::FIELD_TABLE_SIZE_Z, INT32_MAX, 9999},
        {ids::PROGRESS_BAR, 20000, 9999},
        {ids::PROGRESS_BAR, -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("control " + std::to_string(c.id) + " set to " + std::to_string(c.set));
        platform::set_control_value(c.id, c.set);
        EXPECT_EQ(platform::control_value(c.id), c.read);
    }
    // A new progress maximum keeps the value within it; an empty range stays a plain bar.
    platform::set_control_value(ids::PROGRESS_BAR, 9000);
    platform::set_progress_maximum(ids::PROGRESS_BAR, 10);
    EXPECT_EQ(platform::control_value(ids::PROGRESS_BAR), 10);
    platform::set_progress_maximum(ids::PROGRESS_BAR, 0);
    EXPECT_EQ(platform::control_value(ids::PROGRESS_BAR), 0);
    auto* bar = widget<QProgressBar>(ids::PROGRESS_BAR);
    EXPECT_GT(bar->maximum(), bar->minimum()) << "a 0..0 bar would show a busy animation";
    platform::set_progress_maximum(ids::PROGRESS_BAR, 400);
    platform::set_control_value(ids::PROGRESS_BAR, 200);
    EXPECT_EQ(platform::control_value(ids::PROGRESS_BAR), 200);
    EXPECT_EQ(take_events(), EventList{});
}

TEST_F(QtWindowTest, OperatorActionsRaiseControlEvents) {
    // The up arrow of a field, clicked.
    QSpinBox* spin = widget<QSpinBox>(ids::FIELD_DEPTH_MM);
    const int before = spin->value();
    QTest::mouseClick(spin, Qt::LeftButton, Qt::NoModifier, QPoint(45, 4));
    EXPECT_EQ(spin->value(), before + 1);
    EXPECT_EQ(take_events(), (EventList{{CONTROL, ids::FIELD_DEPTH_MM}}));

    // A field edited with a key that is not a shortcut.
    focus_field(ids::FIELD_DEPTH_MM);
    platform::set_control_value(ids::FIELD_DEPTH_MM, 45);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_End);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    EXPECT_EQ(spin->value(), 4);
    EXPECT_EQ(take_events(), (EventList{{CONTROL, ids::FIELD_DEPTH_MM}}));

    // Buttons and a check box, clicked.
    for (int id : {ids::JOG_X_PLUS, ids::OK_TABLE_SIZE, ids::PORT_CHECK_FIRST + 5}) {
        SCOPED_TRACE("control " + std::to_string(id));
        QWidget* w = qt_platform::control_widget(id);
        QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, w->rect().center());
        EXPECT_EQ(take_events(), (EventList{{CONTROL, id}}));
    }
    EXPECT_EQ(platform::control_value(ids::PORT_CHECK_FIRST + 5), 1);
}

TEST_F(QtWindowTest, TheCloseBoxQueuesACloseEventAndKeepsTheWindow) {
    EXPECT_FALSE(window()->close());
    EXPECT_EQ(take_events(), (EventList{{ids::EVENT_CLOSE, 0}}));
    EXPECT_TRUE(window()->isVisible());
}
