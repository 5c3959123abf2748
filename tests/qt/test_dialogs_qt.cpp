// test_dialogs_qt.cpp - the message box and the file-open dialog: modal, their keys are their
// own (no shortcut event), and the dialog's folders, filters and answers.
#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <fstream>
#include <functional>

#include "jobs/job.h"
#include "jobs/preview.h"
#include "qt_fixture.h"

namespace {

// Runs `act` on the next modal dialog once it is open, from inside its own event loop.
void on_next_dialog(std::function<void(QWidget*)> act) {
    auto* timer = new QTimer(qApp);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible()) return;
        timer->stop();
        timer->deleteLater();
        act(modal);
    });
    timer->start();
}

// The keys that would be shortcuts in the main window.
const Qt::Key kShortcutKeys[] = {Qt::Key_1, Qt::Key_Up, Qt::Key_A, Qt::Key_Left, Qt::Key_0};

QLineEdit* file_name_edit(QWidget* dialog) {
    return dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
}

QString canonical(const QString& path) {
    return QDir(path).canonicalPath();
}

}  // namespace

TEST_F(QtWindowTest, KeysInsideAMessageBoxBelongToTheBox) {
    QString title, text;
    bool closed_by_key = false;
    on_next_dialog([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        text = box->text();
        QWidget* target = box->focusWidget() ? box->focusWidget() : box;
        for (Qt::Key key : kShortcutKeys) QTest::keyClick(target, key);
        EXPECT_TRUE(box->isVisible());
        QTest::keyClick(target, Qt::Key_Return);
        closed_by_key = !box->isVisible();
        if (!closed_by_key) box->accept();
    });
    platform::message_box("Неверные координаты", "Неверная глубина  Z");
    EXPECT_TRUE(closed_by_key);
    EXPECT_EQ(title, QStringLiteral("Неверные координаты"));
    EXPECT_EQ(text, QStringLiteral("Неверная глубина  Z"));
    EXPECT_EQ(take_events(), EventList{});
}

// A window manager puts the title in a bold face beside an icon and three buttons; a box sized
// to its short text alone cut such titles to "Пар…ены".
TEST_F(QtWindowTest, MessageBoxesAreWideEnoughForTheirTitle) {
    for (const char* title : {"Параметры не найдены", "Задание выходит за пределы стола"}) {
        int width = 0;
        on_next_dialog([&](QWidget* modal) {
            width = modal->width();
            qobject_cast<QMessageBox*>(modal)->accept();
        });
        platform::message_box(title, title);
        QFont font = QFontDatabase::systemFont(QFontDatabase::TitleFont);
        font.setBold(true);
        const QFontMetrics metrics(font);
        EXPECT_GE(width, metrics.horizontalAdvance(QString::fromUtf8(title)) + 4 * metrics.height())
            << title;
    }
}

TEST_F(QtWindowTest, TheFileDialogStartsInTheWorkingFolderThenAtTheLastFolder) {
    const auto working_dir = std::filesystem::current_path();
    const std::filesystem::path jobs = dir_ / "jobs";
    std::filesystem::create_directories(jobs);
    const QString new_file = QString::fromStdString((jobs / "new board.plt").string());
    const char* filter = "Файл сверления .DRL|*.drl|Файл фрезеровки .PLT|*.plt";

    // The asked folder "c:/" does not exist: the first dialog of the run shows the working
    // folder.
    on_next_dialog([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Please choose file to load"));
        EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
        EXPECT_EQ(canonical(dialog->directory().absolutePath()),
                  canonical(QString::fromStdString(working_dir.string())));
        EXPECT_EQ(dialog->nameFilters(),
                  (QStringList{QStringLiteral("Файл сверления .DRL (*.drl)"),
                               QStringLiteral("Файл фрезеровки .PLT (*.plt)")}));
        EXPECT_EQ(dialog->selectedNameFilter(), QStringLiteral("Файл фрезеровки .PLT (*.plt)"));
        QLineEdit* edit = file_name_edit(dialog);
        ASSERT_NE(edit, nullptr);
        edit->setFocus();
        edit->clear();
        // Digits, arrows and letters edit the name: none of them is a shortcut here.
        for (Qt::Key key : kShortcutKeys) QTest::keyClick(edit, key);
        EXPECT_EQ(edit->text(), QStringLiteral("10a"));  // 1, a, then 0 before the a
        edit->setText(new_file);
        QTest::keyClick(edit, Qt::Key_Return);
    });
    EXPECT_EQ(platform::choose_file("Please choose file to load", "c:/", filter, 1),
              new_file.toStdString());
    EXPECT_EQ(take_events(), EventList{});
    EXPECT_EQ(std::filesystem::current_path(), working_dir);

    // Next time the folder of that file; a name in a missing folder is refused.
    bool refused = false;
    on_next_dialog([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(canonical(dialog->directory().absolutePath()),
                  canonical(QString::fromStdString(jobs.string())));
        QLineEdit* edit = file_name_edit(dialog);
        ASSERT_NE(edit, nullptr);
        edit->setText(QString::fromStdString((dir_ / "missing" / "x.plt").string()));
        QTest::keyClick(edit, Qt::Key_Return);
        refused = dialog->isVisible();
        QTest::keyClick(edit, Qt::Key_Escape);
        if (dialog->isVisible()) dialog->reject();
    });
    EXPECT_EQ(platform::choose_file("t", "c:/", filter, 0), "");
    EXPECT_TRUE(refused);

    // A folder that exists is shown as asked; cancelling gives an empty name.
    on_next_dialog([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(canonical(dialog->directory().absolutePath()),
                  canonical(QString::fromStdString(dir_.string())));
        EXPECT_EQ(dialog->selectedNameFilter(), QStringLiteral("Файл сверления .DRL (*.drl)"));
        dialog->reject();
    });
    EXPECT_EQ(platform::choose_file("t", dir_.string(), filter, 0), "");
    EXPECT_EQ(std::filesystem::current_path(), working_dir);
}

// The open-file button through the main loop: the real dialog, answered here, loads a drilling
// job onto the canvas and names its kind; cancelling it says so and keeps the old drawing.
TEST_F(QtWindowTest, OpenFileButtonLoadsTheJobChosenInTheDialog) {
    const std::filesystem::path job = dir_ / "board.DRL";
    {
        std::ofstream out(job);
        out << "M48\nX10Y20\nM30\n";
    }
    on_next_dialog([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        QLineEdit* edit = file_name_edit(dialog);
        ASSERT_NE(edit, nullptr);
        edit->setText(QString::fromStdString(job.string()));
        QTest::keyClick(edit, Qt::Key_Return);
    });
    QTest::mouseClick(qt_platform::control_widget(ids::OPEN_FILE_BUTTON), Qt::LeftButton);
    run_pass();
    EXPECT_EQ(job_state.job_file_name, job.string());
    EXPECT_EQ(job_state.job_length, 15);
    EXPECT_EQ(widget<QLabel>(ids::LABEL_PROGRAM_TYPE)->text(), QStringLiteral("Сверление"));
    EXPECT_EQ(platform::pixel_rgb(preview_canvas, 10, 20), COLOUR_HOLE);

    QString box_text;
    on_next_dialog([&](QWidget* modal) {
        if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            on_next_dialog([&](QWidget* box) {
                box_text = qobject_cast<QMessageBox*>(box)->text();
                qobject_cast<QMessageBox*>(box)->accept();
            });
            dialog->reject();
        }
    });
    QTest::mouseClick(qt_platform::control_widget(ids::OPEN_FILE_BUTTON), Qt::LeftButton);
    run_pass();
    EXPECT_EQ(box_text, QStringLiteral("Файл не открыт"));
    EXPECT_TRUE(job_state.job_file_name.empty());
    EXPECT_EQ(widget<QLabel>(ids::LABEL_PROGRAM_TYPE)->text(), QStringLiteral("Сверление"));
    EXPECT_EQ(platform::pixel_rgb(preview_canvas, 10, 20), COLOUR_HOLE);
}
