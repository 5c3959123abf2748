// present_qt.cpp - the drawing area inside window 0: each present turns the pass's drawing
// into pixels, shows them at once and then waits for the next frame of the display.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <cmath>

#include "platform/clock.h"
#include "platform/qt/qt_internal.h"
#include "platform/qt/qt_platform.h"
#include "platform/raster.h"
#include "platform/window.h"

namespace qt_platform {

namespace {

// Shows the last presented frame; the pixels are 0xFFRRGGBB, which QImage takes as they are.
class DrawingWidget : public QWidget {
public:
    explicit DrawingWidget(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setFocusPolicy(Qt::NoFocus);
    }

    platform::Picture frame;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        if (frame.pixels.empty()) {
            painter.fillRect(rect(), Qt::black);
            return;
        }
        const QImage image(reinterpret_cast<const uchar*>(frame.pixels.data()), frame.width,
                           frame.height, frame.width * 4, QImage::Format_RGB32);
        painter.drawImage(0, 0, image);
    }
};

QPointer<DrawingWidget> drawing;

// Frame boundaries are counted from the first present, so that waits never drift.
bool have_origin = false;
std::int64_t origin_ns = 0;

std::int64_t frame_period_ns() {
    double hz = 0;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        const QWidget* window = main_window();
        const QScreen* screen =
            window && window->screen() ? window->screen() : QGuiApplication::primaryScreen();
        if (screen) hz = screen->refreshRate();
    }
    if (!(hz >= 1 && hz <= 1000)) hz = 60;  // unknown or absurd rates
    return std::llround(1e9 / hz);
}

void wait_for_next_frame() {
    const std::int64_t period = frame_period_ns();
    const std::int64_t now = platform::monotonic_ns();
    if (!have_origin || now < origin_ns) {
        origin_ns = now;
        have_origin = true;
    }
    platform::sleep_until_ns(origin_ns + ((now - origin_ns) / period + 1) * period);
}

}  // namespace

QWidget* drawing_widget() {
    return drawing.data();
}

}  // namespace qt_platform

namespace platform {

void open_drawing_area(int x, int y, int width, int height) {
    QWidget* window = qt_platform::main_window();
    if (!window) return;
    delete qt_platform::drawing.data();
    auto* widget = new qt_platform::DrawingWidget(window);
    qt_platform::drawing = widget;
    widget->setGeometry(x, y, width, height);
    widget->show();
}

void present(const DrawingArea& area) {
    if (qt_platform::DrawingWidget* widget = qt_platform::drawing.data()) {
        qt_platform::end_if_display_lost();
        render_area(area, widget->frame);
        widget->repaint();
    }
    qt_platform::wait_for_next_frame();
}

}  // namespace platform
