// test_step_wait_qt.cpp - during a long step the window keeps painting, while the operator's
// input that arrives meanwhile waits in the toolkit for the next pass.
#include <qpa/qwindowsysteminterface.h>

#include <QLabel>
#include <QPushButton>
#include <functional>

#include "drive/motion.h"
#include "platform/clock.h"
#include "platform/step_wait.h"
#include "qt_fixture.h"

namespace {

constexpr std::int64_t MS = 1'000'000;
using Async = QWindowSystemInterface::AsynchronousDelivery;

// Notes the virtual time of each paint of one widget and of each input event that reaches
// the program's widgets (or its key filter, which sees them first).
class Watcher : public QObject {
public:
    explicit Watcher(QWidget* painted) : painted_(painted) {}
    std::vector<std::int64_t> paints;
    std::vector<std::int64_t> inputs;

protected:
    bool eventFilter(QObject* target, QEvent* event) override {
        if (event->type() == QEvent::Paint && target == painted_) {
            paints.push_back(fake::clock.now_ns);
        } else if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::KeyPress ||
                   event->type() == QEvent::ShortcutOverride) {
            inputs.push_back(fake::clock.now_ns);
        }
        return false;
    }

private:
    QWidget* painted_;
};

// The operator's actions as the window system delivers them: queued, taken by the next
// processing of events.
void queue_click(QWidget* button) {
    QWidget* top = button->window();
    const QPointF local = button->mapTo(top, QPointF(button->rect().center()));
    const QPointF global = top->mapToGlobal(local);
    QWindow* handle = top->windowHandle();
    QWindowSystemInterface::handleMouseEvent<Async>(handle, local, global, Qt::LeftButton,
                                                    Qt::LeftButton, QEvent::MouseButtonPress);
    QWindowSystemInterface::handleMouseEvent<Async>(handle, local, global, Qt::NoButton,
                                                    Qt::LeftButton, QEvent::MouseButtonRelease);
}

void queue_key(QWidget* top, int key) {
    QWindowSystemInterface::handleKeyEvent<Async>(top->windowHandle(), QEvent::KeyPress, key,
                                                  Qt::NoModifier);
    QWindowSystemInterface::handleKeyEvent<Async>(top->windowHandle(), QEvent::KeyRelease, key,
                                                  Qt::NoModifier);
}

}  // namespace

TEST_F(QtWindowTest, ALongStepRepaintsTheWindowAndLeavesInputForTheNextPass) {
    struct Case {
        const char* name;
        std::function<void()> act;  // Y + 1 by the jog button or the Down key
    };
    const Case cases[] = {
        {"jog button", [] { queue_click(qt_platform::control_widget(ids::JOG_Y_PLUS)); }},
        {"Down key", [] { queue_key(qt_platform::main_window(), Qt::Key_Down); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QWidget* label = qt_platform::control_widget(ids::LABEL_PROGRAM_TYPE);
        ASSERT_NE(label, nullptr);
        Watcher watcher(label);
        qApp->installEventFilter(&watcher);

        machine_state.step_delay_ms = 500;
        jog(Axis::x, +1);
        const std::int32_t target_y = machine_state.target_y;
        // At the step's first write, the label needs painting and the operator acts.
        std::int64_t first_write = -1;
        fake::port.on_write = [&](std::uint8_t) {
            if (first_write >= 0) return;
            first_write = fake::clock.now_ns;
            label->update();
            c.act();
        };

        run_pass();  // the step: four phases of 500 ms
        fake::port.on_write = nullptr;
        ASSERT_GE(first_write, 0);
        const std::int64_t step_end = first_write + 4 * 500 * MS;
        EXPECT_GE(fake::clock.now_ns, step_end);
        // The label was painted inside the first phase, well before its end.
        const auto in_first_phase = [&](std::int64_t t) {
            return t >= first_write &&
                   t <= first_write + 500 * MS - step_wait::tuning.work_min_remaining_ns;
        };
        EXPECT_TRUE(std::any_of(watcher.paints.begin(), watcher.paints.end(), in_first_phase));
        // The input did not reach the window during the step.
        EXPECT_TRUE(watcher.inputs.empty());
        EXPECT_EQ(machine_state.target_y, target_y);

        run_pass();  // takes the input at its start
        EXPECT_FALSE(watcher.inputs.empty());
        EXPECT_EQ(machine_state.target_y, target_y + 1);
        qApp->removeEventFilter(&watcher);
        while (machine_state.move_requested) run_pass();
    }
}
