// dialogs_qt.cpp - the modal message box and the file-open dialog; each runs its own nested
// event loop, so the main loop stands still while it is open.
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGridLayout>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>

#include "platform/qt/qt_platform.h"
#include "platform/signals.h"
#include "platform/window.h"

namespace qt_platform {

namespace {

// The folder of the last file chosen in this run of the program.
QString last_folder;

QString to_qstring(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool have_application() {
    return qobject_cast<QApplication*>(QCoreApplication::instance());
}

// "description|pattern|description|pattern" -> Qt name filters "description (pattern)";
// several patterns of one pair are separated by ";" there and by spaces here.
QStringList name_filters(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList result;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        result << QStringLiteral("%1 (%2)").arg(parts[i], patterns.simplified());
    }
    return result;
}

// The folder shown first: the one asked for if it exists, else the folder of the last job
// chosen, else the working folder, where Param.ini and usually the jobs are.
QString start_directory(const QString& asked) {
    if (!asked.isEmpty() && QFileInfo(asked).isDir()) return QFileInfo(asked).absoluteFilePath();
    if (!last_folder.isEmpty() && QFileInfo(last_folder).isDir()) return last_folder;
    return QDir::currentPath();
}

// The width a window manager needs to show `title` whole: the title in the desktop's bold title
// face beside a window icon and three buttons, each about one title bar high.
int title_bar_width(const QString& title) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::TitleFont);
    font.setBold(true);
    const QFontMetrics metrics(font);
    const int bar_height = metrics.height() + 8;
    return metrics.horizontalAdvance(title) + 4 * bar_height + 16;
}

// A termination signal closes an open box or dialog, so that the pass can end and the
// parameters be saved; the signal itself only sets a flag, looked at a few times a second.
void close_on_termination(QDialog& dialog) {
    auto* timer = new QTimer(&dialog);
    QObject::connect(timer, &QTimer::timeout, &dialog, [&dialog] {
        if (platform::termination_requested()) dialog.reject();
    });
    timer->start(100);
}

// Takes any file name, existing or not, as long as its folder exists.
class OpenDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    void accept() override {
        const QStringList files = selectedFiles();
        if (files.isEmpty() || !QFileInfo(files.first()).absoluteDir().exists()) return;
        QFileDialog::accept();
    }
};

}  // namespace

}  // namespace qt_platform

namespace platform {

void message_box(std::string_view title, std::string_view text) {
    if (!qt_platform::have_application() || termination_requested()) {
        // Without a display, or while the program ends, the operator can only be told on
        // standard error.
        std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(title.size()), title.data(),
                     static_cast<int>(text.size()), text.data());
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, qt_platform::to_qstring(title),
                    qt_platform::to_qstring(text), QMessageBox::Ok, qt_platform::main_window());
    box.setTextFormat(Qt::PlainText);
    // The box sizes itself to its text alone; a spacer across its grid keeps the title whole.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        grid->addItem(new QSpacerItem(qt_platform::title_bar_width(box.windowTitle()), 0,
                                      QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
    qt_platform::close_on_termination(box);
    box.exec();
}

std::string choose_file(std::string_view title, std::string_view start_folder,
                        std::string_view filter, int selected_filter) {
    if (!qt_platform::have_application() || termination_requested()) return {};
    qt_platform::OpenDialog dialog(
        qt_platform::main_window(), qt_platform::to_qstring(title),
        qt_platform::start_directory(qt_platform::to_qstring(start_folder)));
    // Qt's own dialog behaves the same on every desktop and never changes the working folder.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    const QStringList filters = qt_platform::name_filters(qt_platform::to_qstring(filter));
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        if (selected_filter >= 0 && selected_filter < filters.size()) {
            dialog.selectNameFilter(filters[selected_filter]);
        }
    }
    qt_platform::close_on_termination(dialog);
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return {};
    const QFileInfo chosen(files.first());
    qt_platform::last_folder = chosen.absolutePath();
    return chosen.absoluteFilePath().toStdString();
}

}  // namespace platform
