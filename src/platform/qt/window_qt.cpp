// window_qt.cpp - the application, window 0 and its controls on Qt Widgets: controls are
// placed at absolute positions in creation order, operator actions queue control events,
// and programmatic changes never do.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QGroupBox>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStyleFactory>
#include <QStyleOptionSpinBox>
#include <QTranslator>
#include <algorithm>
#include <array>
#include <deque>
#include <memory>
#include <optional>

#include "base/ids.h"
#include "platform/qt/qt_internal.h"
#include "platform/qt/qt_platform.h"
#include "platform/step_wait.h"
#include "platform/window.h"

namespace qt_platform {

namespace {

// The panel's font: small enough for the frame titles and labels to fit their boxes. The
// labels line their words up with spaces, which suits the narrow Arial-like faces best.
constexpr int FONT_PIXEL_SIZE = 11;
const QStringList FONT_FAMILIES = {QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                                   QStringLiteral("Nimbus Sans"), QStringLiteral("Helvetica"),
                                   QStringLiteral("DejaVu Sans")};

// The close box asks the program to end; the main loop closes the window itself.
class MainWindow : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void closeEvent(QCloseEvent* event) override {
        push_event(ids::EVENT_CLOSE, 0);
        event->ignore();
    }
};

// A spin field whose arrows are small solid triangles centred in its narrow buttons.
class SpinField : public QSpinBox {
public:
    using QSpinBox::QSpinBox;

protected:
    void paintEvent(QPaintEvent* event) override {
        QSpinBox::paintEvent(event);
        QStyleOptionSpinBox option;
        initStyleOption(&option);
        QPainter painter(this);
        const QColor colour = palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                              QPalette::ButtonText);
        for (const bool up : {true, false}) {
            const QStyle::SubControl part = up ? QStyle::SC_SpinBoxUp : QStyle::SC_SpinBoxDown;
            const QRect r = style()->subControlRect(QStyle::CC_SpinBox, &option, part, this);
            // Three rows, 1, 3 and 5 pixels wide, pointing away from the field's middle.
            const int cx = r.left() + r.width() / 2;
            const int top = r.top() + (r.height() - 3) / 2;
            for (int row = 0; row < 3; ++row) {
                const int half = up ? row : 2 - row;
                painter.fillRect(cx - half, top + row, 2 * half + 1, 1, colour);
            }
        }
    }
};

struct Control {
    platform::ControlKind kind = platform::ControlKind::label;
    QPointer<QWidget> widget;
    std::int32_t value = 0;  // for kinds whose widget keeps no value
    std::int32_t minimum = 0;
    std::int32_t progress_maximum = 0;  // the bar's own range never collapses to one value
    std::uint32_t back_colour = 0;
    bool back_colour_set = false;
};

struct Event {
    int kind;
    int id;
};

struct State {
    int argc = 1;
    char** argv = nullptr;
    std::unique_ptr<QApplication> app;
    QObject* key_filter = nullptr;
    QPointer<MainWindow> window;
    std::array<Control, ids::CONTROL_ID_LIMIT> controls{};
    // Optional: a QPixmap, even an empty one, may only exist while the application does.
    std::array<std::optional<QPixmap>, ids::PICTURE_COUNT + 1> pictures{};
    std::deque<Event> events;
    int current_event_id = 0;
};

State state;
char default_program_name[] = "cncmirel";
char* default_argv[] = {default_program_name, nullptr};

// The toolkit is up once its key filter is installed; until then every operation is a no-op.
bool started() {
    return state.key_filter != nullptr;
}

Control* find(int id) {
    if (id < 0 || id >= ids::CONTROL_ID_LIMIT || !state.controls[id].widget) return nullptr;
    return &state.controls[id];
}

// Arrows at the right taking h/2 of the field's width, the text box the rest. The style's
// own arrow glyphs do not fit such narrow buttons: SpinField draws them.
QString spin_style(int arrow_width, const Control& c) {
    QString sheet = QStringLiteral(
                        "QSpinBox { border: 1px solid #8a8a8a; padding-left: 1px; }"
                        "QSpinBox::up-button, QSpinBox::down-button {"
                        " subcontrol-origin: border; width: %1px; }"
                        "QSpinBox::up-button { subcontrol-position: top right; }"
                        "QSpinBox::down-button { subcontrol-position: bottom right; }"
                        "QSpinBox::up-arrow, QSpinBox::down-arrow {"
                        " image: none; width: 0px; height: 0px; }")
                        .arg(arrow_width);
    if (c.back_colour_set) {
        sheet += QStringLiteral("QSpinBox { background-color: #%1; }")
                     .arg(c.back_colour & 0xFFFFFFu, 6, 16, QLatin1Char('0'));
    }
    return sheet;
}

// An empty range would make the bar show a busy animation; one step keeps it plain.
int bar_maximum(std::int32_t minimum, std::int32_t maximum) {
    return std::max(maximum, minimum == INT32_MAX ? minimum : minimum + 1);
}

// A label whose text is wider than its box (with a wide font) closes up the gaps between its
// words rather than lose its last word.
void fit_label(QLabel& label) {
    QFont font = QApplication::font();
    const QString text = label.text();
    const qreal natural = QFontMetricsF(font).horizontalAdvance(text);
    const qreal excess = natural - label.width();
    if (excess > 0) {
        // How much one pixel less word spacing saves: the toolkit counts gaps, not spaces.
        font.setWordSpacing(-1);
        const qreal per_pixel = natural - QFontMetricsF(font).horizontalAdvance(text);
        font.setWordSpacing(per_pixel > 0 ? -excess / per_pixel : 0);
    }
    label.setFont(font);
}

QWidget* make_widget(const platform::ControlSpec& desc, QWidget* parent) {
    using platform::ControlKind;
    const int id = desc.id;
    const QString text = QString::fromUtf8(desc.text ? desc.text : "");
    switch (desc.kind) {
        case ControlKind::image_button:
        case ControlKind::text_button: {
            auto* button = new QPushButton(parent);
            button->setAutoDefault(false);
            if (desc.kind == ControlKind::text_button) {
                button->setText(text);
            } else if (const QPixmap* p = picture(desc.picture)) {
                button->setIcon(QIcon(*p));
                button->setIconSize(p->size());
            }
            QObject::connect(button, &QPushButton::clicked,
                             [id] { push_event(ids::EVENT_CONTROL, id); });
            return button;
        }
        case ControlKind::spin_field: {
            auto* spin = new SpinField(parent);
            spin->setLocale(QLocale::c());  // plain digits, no group separators
            spin->setGroupSeparatorShown(false);
            spin->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            spin->setRange(desc.minimum, std::max(desc.minimum, desc.maximum));
            spin->setValue(desc.minimum);
            // Typing, the arrows and the wheel are the operator's; setValue runs with
            // signals blocked, so only those reach the queue.
            QObject::connect(spin, &QSpinBox::valueChanged,
                             [id](int) { push_event(ids::EVENT_CONTROL, id); });
            return spin;
        }
        case ControlKind::check_box: {
            auto* box = new QCheckBox(parent);
            QObject::connect(box, &QCheckBox::clicked,
                             [id](bool) { push_event(ids::EVENT_CONTROL, id); });
            return box;
        }
        case ControlKind::frame:
            return new QGroupBox(text, parent);
        case ControlKind::progress_bar: {
            auto* bar = new QProgressBar(parent);
            bar->setRange(desc.minimum, bar_maximum(desc.minimum, desc.maximum));
            bar->setValue(desc.minimum);
            return bar;
        }
        case ControlKind::label: {
            auto* label = new QLabel(text, parent);
            label->setTextFormat(Qt::PlainText);  // spaces and markup-like text shown as they are
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            return label;
        }
        case ControlKind::image_indicator: {
            auto* label = new QLabel(parent);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            if (const QPixmap* p = picture(desc.picture)) label->setPixmap(*p);
            return label;
        }
    }
    return nullptr;
}

// Installed as the work of long phase waits: the window repaints and answers the window
// system during a step, while the operator's input stays queued in the toolkit until the next
// pass takes events at its start.
void repaint_during_wait() {
    end_if_display_lost();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace

void push_event(int kind, int id) {
    state.events.push_back({kind, id});
}

void set_arguments(int argc, char** argv) {
    state.argc = argc;
    state.argv = argv;
    remember_arguments_for_display(argc, argv);
}

QWidget* main_window() {
    return state.window.data();
}

QWidget* control_widget(int id) {
    const Control* c = find(id);
    return c ? c->widget.data() : nullptr;
}

const QPixmap* picture(int picture_id) {
    if (picture_id < 1 || picture_id > ids::PICTURE_COUNT) return nullptr;
    const std::optional<QPixmap>& p = state.pictures[picture_id];
    return p && !p->isNull() ? &*p : nullptr;
}

}  // namespace qt_platform

namespace platform {

using qt_platform::state;

bool start_drawing_system() {
    if (qt_platform::started()) return true;
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        if (QCoreApplication::instance())
            return false;  // a console application cannot show widgets
        if (!qt_platform::display_reachable()) return false;
        if (!state.argv) {
            state.argc = 1;
            state.argv = qt_platform::default_argv;
        }
        state.app = std::make_unique<QApplication>(state.argc, state.argv);
    }
    // The toolkit's own texts (the file dialog's buttons and labels) in the desktop's language,
    // from Qt's translations where they are installed.
    auto* translator = new QTranslator(qApp);
    if (translator->load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(translator);
    }
    // One look on every desktop, so that the panel's small sizes hold everywhere.
    if (QStyle* style = QStyleFactory::create(QStringLiteral("Fusion"))) {
        QApplication::setStyle(style);
    }
    QFont font = QApplication::font();
    font.setFamilies(qt_platform::FONT_FAMILIES);
    font.setPixelSize(qt_platform::FONT_PIXEL_SIZE);
    QApplication::setFont(font);
    // The installed desktop entry and theme icon: task lists and title bars show them.
    QGuiApplication::setDesktopFileName(QStringLiteral("cncmirel"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("cncmirel")));
    qt_platform::watch_display_connection();
    state.key_filter = qt_platform::make_key_filter(qApp);
    qApp->installEventFilter(state.key_filter);
    step_wait::set_work(qt_platform::repaint_during_wait);
    return true;
}

void open_window(int width, int height, std::string_view title) {
    if (!qt_platform::started()) return;
    delete state.window.data();
    state.controls = {};
    state.events.clear();
    auto* window = new qt_platform::MainWindow(
        nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                     Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                     Qt::WindowCloseButtonHint);
    state.window = window;
    window->setWindowTitle(QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())));
    // No sizing border; the panel keeps the absolute positions it gets at creation.
    window->setFixedSize(width, height);
    window->move(0, 0);
    window->show();
    // The window itself holds the focus until the operator picks a control.
    window->setFocus(Qt::OtherFocusReason);
}

bool load_picture(int picture_id, const std::uint8_t* bmp, std::size_t size) {
    if (!qt_platform::started() || picture_id < 1 || picture_id > ids::PICTURE_COUNT) return false;
    const QImage image = QImage::fromData(bmp, static_cast<int>(size), "BMP");
    if (image.isNull()) return false;
    state.pictures[picture_id] = QPixmap::fromImage(image);
    return true;
}

void create_control(const ControlSpec& desc) {
    if (!state.window || desc.id < 0 || desc.id >= ids::CONTROL_ID_LIMIT) return;
    qt_platform::Control& c = state.controls[desc.id];
    delete c.widget.data();
    c = qt_platform::Control{};
    c.kind = desc.kind;
    c.minimum = desc.minimum;
    c.progress_maximum = desc.maximum;
    QWidget* w = qt_platform::make_widget(desc, state.window);
    c.widget = w;
    w->setGeometry(desc.x, desc.y, desc.width, desc.height);
    if (desc.kind == ControlKind::spin_field) {
        w->setStyleSheet(qt_platform::spin_style(desc.height / 2, c));
    } else if (desc.kind == ControlKind::frame) {
        // Frames are made after the controls they surround; kept below them so that
        // they never take their clicks.
        w->lower();
    } else if (desc.kind == ControlKind::label) {
        qt_platform::fit_label(*static_cast<QLabel*>(w));
    } else if (desc.kind == ControlKind::progress_bar) {
        auto* bar = static_cast<QProgressBar*>(w);
        const QFontMetrics metrics = bar->fontMetrics();
        bar->setTextVisible(metrics.horizontalAdvance(QStringLiteral("100%")) + 8 <= desc.width &&
                            metrics.height() <= desc.height);
    }
    w->show();
}

int poll_event() {
    if (qt_platform::started()) {
        qt_platform::end_if_display_lost();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    if (state.events.empty()) return ids::EVENT_NONE;
    const qt_platform::Event e = state.events.front();
    state.events.pop_front();
    state.current_event_id = e.id;
    return e.kind;
}

int event_id() {
    return state.current_event_id;
}

int focused_control() {
    if (!state.window) return -1;
    // A spin field's inner line edit counts as the field.
    for (QWidget* w = QApplication::focusWidget(); w && w != state.window; w = w->parentWidget()) {
        for (int id = 0; id < ids::CONTROL_ID_LIMIT; ++id) {
            if (state.controls[id].widget == w) return id;
        }
    }
    return -1;
}

std::int32_t control_value(int id) {
    const qt_platform::Control* c = qt_platform::find(id);
    if (!c) return 0;
    switch (c->kind) {
        case ControlKind::spin_field:
            return static_cast<QSpinBox*>(c->widget.data())->value();
        case ControlKind::check_box:
            return static_cast<QCheckBox*>(c->widget.data())->isChecked() ? 1 : 0;
        case ControlKind::progress_bar:
            return static_cast<QProgressBar*>(c->widget.data())->value();
        default:
            return c->value;
    }
}

void set_control_value(int id, std::int32_t value) {
    qt_platform::Control* c = qt_platform::find(id);
    if (!c) return;
    const QSignalBlocker blocker(c->widget.data());
    switch (c->kind) {
        case ControlKind::spin_field: {
            auto* spin = static_cast<QSpinBox*>(c->widget.data());
            spin->setValue(std::clamp(value, spin->minimum(), spin->maximum()));
            break;
        }
        case ControlKind::check_box:
            static_cast<QCheckBox*>(c->widget.data())->setChecked(value != 0);
            break;
        case ControlKind::progress_bar: {
            // A progress bar ignores values outside its range; bring them to the bounds.
            auto* bar = static_cast<QProgressBar*>(c->widget.data());
            bar->setValue(std::clamp(value, c->minimum, std::max(c->minimum, c->progress_maximum)));
            break;
        }
        default:
            c->value = value;
            break;
    }
}

void set_control_text(int id, std::string_view text) {
    qt_platform::Control* c = qt_platform::find(id);
    if (!c) return;
    const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    const QSignalBlocker blocker(c->widget.data());
    switch (c->kind) {
        case ControlKind::label:
            static_cast<QLabel*>(c->widget.data())->setText(s);
            qt_platform::fit_label(*static_cast<QLabel*>(c->widget.data()));
            break;
        case ControlKind::frame:
            static_cast<QGroupBox*>(c->widget.data())->setTitle(s);
            break;
        case ControlKind::text_button:
        case ControlKind::image_button:
            static_cast<QPushButton*>(c->widget.data())->setText(s);
            break;
        case ControlKind::spin_field:
            // The field reads its value back from the text, with its own signals blocked.
            if (auto* edit = c->widget->findChild<QLineEdit*>()) edit->setText(s);
            break;
        case ControlKind::check_box:
            static_cast<QCheckBox*>(c->widget.data())->setText(s);
            break;
        default:
            break;
    }
}

void set_back_colour(int id, std::uint32_t rgb) {
    qt_platform::Control* c = qt_platform::find(id);
    if (!c) return;
    if (c->back_colour_set && c->back_colour == rgb) return;  // restyling costs a re-polish
    c->back_colour = rgb;
    c->back_colour_set = true;
    if (c->kind == ControlKind::spin_field) {
        c->widget->setStyleSheet(qt_platform::spin_style(c->widget->height() / 2, *c));
    } else {
        QPalette palette = c->widget->palette();
        palette.setColor(QPalette::Window, QColor::fromRgb(rgb & 0xFFFFFFu));
        palette.setColor(QPalette::Base, QColor::fromRgb(rgb & 0xFFFFFFu));
        c->widget->setPalette(palette);
        c->widget->setAutoFillBackground(true);
    }
}

void set_progress_maximum(int id, std::int32_t maximum) {
    qt_platform::Control* c = qt_platform::find(id);
    if (!c || c->kind != ControlKind::progress_bar) return;
    auto* bar = static_cast<QProgressBar*>(c->widget.data());
    const int value = bar->value();
    c->progress_maximum = maximum;
    bar->setMaximum(qt_platform::bar_maximum(c->minimum, maximum));
    // A bar whose range no longer holds its value resets itself; keep the nearest bound.
    bar->setValue(std::clamp(value, c->minimum, std::max(c->minimum, maximum)));
}

void set_control_picture(int id, int picture_id) {
    qt_platform::Control* c = qt_platform::find(id);
    const QPixmap* p = qt_platform::picture(picture_id);
    if (!c || !p) return;
    if (c->kind == ControlKind::image_indicator) {
        static_cast<QLabel*>(c->widget.data())->setPixmap(*p);
    } else if (c->kind == ControlKind::image_button) {
        auto* button = static_cast<QPushButton*>(c->widget.data());
        button->setIcon(QIcon(*p));
        button->setIconSize(p->size());
    }
}

void hide_control(int id) {
    if (qt_platform::Control* c = qt_platform::find(id)) c->widget->hide();
}

void show_control(int id) {
    if (qt_platform::Control* c = qt_platform::find(id)) c->widget->show();
}

void end_program() {
    delete state.window.data();
    state.controls = {};
    state.pictures = {};  // pixmaps must go before the application
    state.events.clear();
    if (qt_platform::started()) {
        step_wait::set_work(nullptr);
        // Text selected in a field makes the program the owner of the X selection, and the
        // toolkit would then wait at exit, up to five seconds, for a clipboard manager to
        // take it over. A selection is not kept after its owner ends anyway; the clipboard
        // proper (text copied on purpose) is still handed over.
        if (QClipboard* clipboard = QGuiApplication::clipboard(); clipboard->ownsSelection()) {
            clipboard->clear(QClipboard::Selection);
        }
        qApp->removeEventFilter(state.key_filter);
        delete state.key_filter;
        state.key_filter = nullptr;
    }
    qt_platform::forget_display_connection();
    state.app.reset();
}

}  // namespace platform
