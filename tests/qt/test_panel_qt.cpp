// test_panel_qt.cpp - the window and the panel as start-up builds them on Qt: every control's
// kind, place, size, range and text, the nine pictures, and the spin fields' shape.
#include <QCheckBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionSpinBox>
#include <cstring>

#include "app/pictures.h"
#include "qt_fixture.h"

namespace {

using platform::ControlKind;

struct Expected {
    int id;
    ControlKind kind;
    int x, y, width, height;
    int minimum, maximum;  // spin field, progress bar
    int picture;           // image button, indicator
    std::string text;      // text button, frame, label
};

std::vector<Expected> expected_panel() {
    using K = ControlKind;
    std::vector<Expected> rows = {
        {1, K::image_button, 854, 528, 40, 40, 0, 0, 1, ""},
        {2, K::image_button, 854, 578, 40, 40, 0, 0, 2, ""},
        {3, K::image_button, 904, 578, 40, 40, 0, 0, 3, ""},
        {4, K::image_button, 804, 578, 40, 40, 0, 0, 4, ""},
        {5, K::image_button, 954, 528, 40, 40, 0, 0, 1, ""},
        {6, K::image_button, 954, 578, 40, 40, 0, 0, 2, ""},
        {7, K::image_button, 804, 38, 40, 40, 0, 0, 3, ""},
        {8, K::image_button, 854, 38, 40, 40, 0, 0, 5, ""},
        {9, K::image_button, 904, 38, 40, 40, 0, 0, 6, ""},
        {10, K::image_button, 954, 38, 40, 40, 0, 0, 7, ""},
        {11, K::text_button, 969, 478, 30, 20, 0, 0, 0, "Ok"},
        {12, K::text_button, 969, 428, 30, 20, 0, 0, 0, "Ok"},
        {13, K::text_button, 969, 378, 30, 20, 0, 0, 0, "Ok"},
        {14, K::text_button, 969, 328, 30, 20, 0, 0, 0, "Ok"},
        {15, K::text_button, 969, 278, 30, 20, 0, 0, 0, "Ok"},
        {16, K::text_button, 969, 651, 30, 20, 0, 0, 0, "Ok"},
        {20, K::spin_field, 804, 478, 50, 20, 0, 9999, 0, ""},
        {21, K::spin_field, 859, 478, 50, 20, 0, 9999, 0, ""},
        {22, K::spin_field, 914, 478, 50, 20, 0, 9999, 0, ""},
        {23, K::spin_field, 804, 428, 50, 20, 1, 9999, 0, ""},
        {24, K::spin_field, 859, 428, 50, 20, 1, 9999, 0, ""},
        {25, K::spin_field, 914, 428, 50, 20, 1, 9999, 0, ""},
        {26, K::spin_field, 804, 378, 50, 20, 1, 9999, 0, ""},
        {27, K::spin_field, 859, 378, 50, 20, 1, 9999, 0, ""},
        {28, K::spin_field, 914, 378, 50, 20, 1, 9999, 0, ""},
        {29, K::spin_field, 804, 328, 50, 20, 1, 999, 0, ""},
        {30, K::spin_field, 859, 328, 50, 20, 1, 9999, 0, ""},
        {31, K::spin_field, 914, 328, 50, 20, 1, 100, 0, ""},
        {32, K::spin_field, 804, 278, 50, 20, 0, 9999, 0, ""},
        {33, K::spin_field, 859, 278, 50, 20, 0, 9999, 0, ""},
        {34, K::spin_field, 914, 278, 50, 20, 0, 9999, 0, ""},
        {50, K::frame, 789, 8, 220, 110, 0, 0, 0, "Программное управление"},
        {51, K::frame, 789, 118, 220, 50, 0, 0, 0, "Тип Програмы"},
        {52, K::frame, 789, 173, 220, 50, 0, 0, 0, ""},
        {53, K::frame, 789, 258, 220, 50, 0, 0, 0, "Установить в позицию   мм"},
        {54, K::frame, 789, 308, 220, 50, 0, 0, 0, "Time мс/ Глубина шаг /Масштаб %"},
        {55, K::frame, 789, 358, 220, 50, 0, 0, 0, "Размер стола   мм"},
        {56, K::frame, 789, 408, 220, 50, 0, 0, 0, "Кол-во шагов на мм"},
        {57, K::frame, 789, 458, 220, 50, 0, 0, 0, "Люфты  в  шагах"},
        {58, K::frame, 789, 508, 220, 120, 0, 0, 0, "Ручное управление"},
        {59, K::frame, 789, 628, 220, 100, 0, 0, 0, "LPT порт"},
        {60, K::progress_bar, 804, 88, 190, 20, 0, 9999, 0, ""},
        {70, K::label, 789, 228, 220, 15, 0, 0, 0,
         std::string(8, ' ') + "X" + std::string(17, ' ') + "Y" + std::string(19, ' ') + "Z"},
        {71, K::label, 799, 678, 160, 15, 0, 0, 0, "1     2     3     4     5     6     7     8"},
        {72, K::label, 974, 243, 32, 15, 0, 0, 0, "Шаги"},
        {73, K::label, 969, 698, 32, 15, 0, 0, 0, "0"},
        // The position labels show the start targets: (0, 0, 10) mm at 10 steps per mm.
        {74, K::label, 814, 243, 50, 20, 0, 0, 0, "0"},
        {75, K::label, 869, 243, 50, 20, 0, 0, 0, "0"},
        {76, K::label, 924, 243, 50, 20, 0, 0, 0, "100"},
        {77, K::label, 859, 143, 100, 20, 0, 0, 0, "Тип не выбран"},
    };
    for (int k = 0; k < 8; ++k) {
        rows.push_back({40 + k, K::check_box, 799 + 20 * k, 653, 15, 15, 0, 0, 0, ""});
        rows.push_back({80 + k, K::image_indicator, 799 + 20 * k, 698, 15, 15, 0, 0, 8, ""});
    }
    return rows;
}

QImage picture_image(int picture_id) {
    const QPixmap* p = qt_platform::picture(picture_id);
    return p ? p->toImage().convertToFormat(QImage::Format_RGB32) : QImage();
}

QImage icon_image(const QPushButton& button) {
    return button.icon().pixmap(button.iconSize()).toImage().convertToFormat(QImage::Format_RGB32);
}

}  // namespace

TEST_F(QtWindowTest, WindowIsFixedAt1024By768WithTheDrawingAreaAt5And5) {
    QWidget* w = window();
    EXPECT_EQ(w->windowTitle(), QStringLiteral("CNC Mirel"));
    EXPECT_EQ(w->size(), QSize(1024, 768));
    EXPECT_EQ(w->minimumSize(), w->maximumSize()) << "the window must have no sizing border";
    EXPECT_EQ(w->pos(), QPoint(0, 0));
    EXPECT_TRUE(w->windowFlags() & Qt::WindowMaximizeButtonHint);
    ASSERT_NE(qt_platform::drawing_widget(), nullptr);
    EXPECT_EQ(qt_platform::drawing_widget()->geometry(), QRect(5, 5, 774, 728));
}

TEST_F(QtWindowTest, EveryControlHasItsKindPlaceSizeRangeAndText) {
    for (const Expected& e : expected_panel()) {
        SCOPED_TRACE("control " + std::to_string(e.id));
        QWidget* w = qt_platform::control_widget(e.id);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->parentWidget(), window());
        EXPECT_EQ(w->geometry(), QRect(e.x, e.y, e.width, e.height));
        EXPECT_TRUE(w->isVisible());
        const QString text = QString::fromStdString(e.text);
        switch (e.kind) {
            case ControlKind::image_button: {
                auto* button = qobject_cast<QPushButton*>(w);
                ASSERT_NE(button, nullptr);
                EXPECT_TRUE(button->text().isEmpty());
                EXPECT_EQ(icon_image(*button), picture_image(e.picture));
                break;
            }
            case ControlKind::text_button:
                ASSERT_NE(qobject_cast<QPushButton*>(w), nullptr);
                EXPECT_EQ(qobject_cast<QPushButton*>(w)->text(), text);
                break;
            case ControlKind::spin_field:
                ASSERT_NE(qobject_cast<QSpinBox*>(w), nullptr);
                EXPECT_EQ(qobject_cast<QSpinBox*>(w)->minimum(), e.minimum);
                EXPECT_EQ(qobject_cast<QSpinBox*>(w)->maximum(), e.maximum);
                break;
            case ControlKind::check_box:
                ASSERT_NE(qobject_cast<QCheckBox*>(w), nullptr);
                EXPECT_TRUE(qobject_cast<QCheckBox*>(w)->text().isEmpty());
                EXPECT_FALSE(qobject_cast<QCheckBox*>(w)->isChecked());
                break;
            case ControlKind::frame:
                ASSERT_NE(qobject_cast<QGroupBox*>(w), nullptr);
                EXPECT_EQ(qobject_cast<QGroupBox*>(w)->title(), text);
                break;
            case ControlKind::progress_bar:
                ASSERT_NE(qobject_cast<QProgressBar*>(w), nullptr);
                EXPECT_EQ(qobject_cast<QProgressBar*>(w)->minimum(), e.minimum);
                EXPECT_EQ(qobject_cast<QProgressBar*>(w)->maximum(), e.maximum);
                EXPECT_EQ(qobject_cast<QProgressBar*>(w)->value(), 0);
                break;
            case ControlKind::label:
                ASSERT_NE(qobject_cast<QLabel*>(w), nullptr);
                EXPECT_EQ(qobject_cast<QLabel*>(w)->text(), text);
                break;
            case ControlKind::image_indicator: {
                auto* label = qobject_cast<QLabel*>(w);
                ASSERT_NE(label, nullptr);
                EXPECT_EQ(label->pixmap().toImage().convertToFormat(QImage::Format_RGB32),
                          picture_image(e.picture));
                break;
            }
        }
    }
}

// Frames are created after the controls they surround: a click inside a frame must still
// reach the control under the pointer.
TEST_F(QtWindowTest, EveryControlTakesTheClicksOnItsOwnArea) {
    for (const Expected& e : expected_panel()) {
        if (e.kind == ControlKind::frame) continue;
        SCOPED_TRACE("control " + std::to_string(e.id));
        QWidget* control = qt_platform::control_widget(e.id);
        QWidget* hit = window()->childAt(QRect(e.x, e.y, e.width, e.height).center());
        ASSERT_NE(hit, nullptr);
        EXPECT_TRUE(hit == control || control->isAncestorOf(hit));
    }
}

TEST_F(QtWindowTest, SpinFieldsShowTheirNumberInFortyPixelsAndArrowsInTheLastTen) {
    for (int id = ids::FIELD_FIRST; id <= ids::FIELD_LAST; ++id) {
        SCOPED_TRACE("field " + std::to_string(id));
        auto* spin = widget<QSpinBox>(id);
        ASSERT_NE(spin, nullptr);
        QStyleOptionSpinBox option;
        option.initFrom(spin);
        option.rect = spin->rect();
        option.subControls = QStyle::SC_All;
        option.buttonSymbols = spin->buttonSymbols();
        option.frame = spin->hasFrame();
        for (auto part : {QStyle::SC_SpinBoxUp, QStyle::SC_SpinBoxDown}) {
            const QRect arrow =
                spin->style()->subControlRect(QStyle::CC_SpinBox, &option, part, spin);
            EXPECT_EQ(arrow.width(), 10);
            EXPECT_EQ(arrow.right(), 49);
        }
        const QLineEdit* edit = spin->findChild<QLineEdit*>();
        ASSERT_NE(edit, nullptr);
        EXPECT_LE(edit->geometry().right(), 39);
        EXPECT_TRUE(spin->alignment() & Qt::AlignRight);
    }
    // Four digits without a separator.
    platform::set_control_value(ids::FIELD_TABLE_SIZE_X, 9999);
    EXPECT_EQ(widget<QSpinBox>(ids::FIELD_TABLE_SIZE_X)->text(), QStringLiteral("9999"));
}

TEST_F(QtWindowTest, PicturesAreTheNineBmpFilesOfTheirSizesAndDepths) {
    struct Case {
        int id;
        std::size_t bytes;
        int width, height, bits;
    };
    const Case cases[] = {
        {1, 3486, 34, 33, 24}, {2, 3486, 34, 33, 24}, {3, 3454, 33, 34, 24},
        {4, 3454, 33, 34, 24}, {5, 3354, 33, 33, 24}, {6, 3590, 34, 34, 24},
        {7, 566, 28, 28, 4},   {8, 774, 15, 15, 24},  {9, 774, 15, 15, 24},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("picture " + std::to_string(c.id));
        const EmbeddedPicture& file = embedded_pictures[c.id - 1];
        ASSERT_EQ(file.size, c.bytes);
        auto u16 = [&](std::size_t at) { return file.bytes[at] | file.bytes[at + 1] << 8; };
        auto u32 = [&](std::size_t at) {
            return static_cast<std::size_t>(u16(at)) | static_cast<std::size_t>(u16(at + 2)) << 16;
        };
        EXPECT_EQ(std::memcmp(file.bytes, "BM", 2), 0);
        EXPECT_EQ(u32(2), c.bytes);  // file size
        EXPECT_EQ(u32(14), 40u);     // information header size
        EXPECT_EQ(u32(18), std::size_t(c.width));
        EXPECT_EQ(u32(22), std::size_t(c.height));  // positive: rows bottom-up
        EXPECT_EQ(u16(28), c.bits);
        EXPECT_EQ(u32(30), 0u);  // no compression
        const std::size_t row = (std::size_t(c.width) * c.bits + 31) / 32 * 4;
        EXPECT_EQ(u32(10) + row * c.height, c.bytes);  // pixel data fills the file
        const QPixmap* decoded = qt_platform::picture(c.id);
        ASSERT_NE(decoded, nullptr);
        EXPECT_EQ(decoded->size(), QSize(c.width, c.height));
    }
}

TEST_F(QtWindowTest, PicturesShowWhatTheirControlsNeed) {
    struct Pixel {
        int picture, x, y;
        QRgb rgb;
    };
    const QRgb white = qRgb(255, 255, 255), black = qRgb(0, 0, 0);
    const Pixel pixels[] = {
        // Button faces: light bevel at the rim, black face, white glyph in the middle.
        {1, 0, 0, white},
        {1, 5, 5, black},
        {1, 17, 16, white},
        {1, 17, 10, white},
        {1, 17, 24, black},  // below the base of the upward triangle
        {2, 17, 22, white},
        {2, 17, 8, black},  // tip down, base up
        {3, 22, 17, white},
        {3, 8, 17, black},  // tip right
        {4, 10, 17, white},
        {4, 25, 17, black},  // tip left
        {5, 11, 16, white},
        {5, 16, 16, black},
        {5, 21, 16, white},  // two bars
        {6, 17, 17, white},
        {6, 9, 17, black},
        // Open file: the sheet at the upper left, the yellow arrow at the lower left.
        {7, 6, 6, white},
        {7, 6, 16, qRgb(255, 255, 0)},
        {7, 20, 6, black},
        // Port indicators: one-pixel black border around white (off) or blue (on).
        {8, 0, 7, black},
        {8, 1, 1, white},
        {8, 7, 7, white},
        {8, 14, 14, black},
        {9, 7, 0, black},
        {9, 1, 13, qRgb(0, 0, 255)},
        {9, 7, 7, qRgb(0, 0, 255)},
    };
    for (const Pixel& p : pixels) {
        SCOPED_TRACE("picture " + std::to_string(p.picture) + " at " + std::to_string(p.x) + "," +
                     std::to_string(p.y));
        EXPECT_EQ(picture_image(p.picture).pixel(p.x, p.y) & 0xFFFFFFu, p.rgb & 0xFFFFFFu);
    }
    // Picture 7 keeps the standard 16-colour palette.
    const EmbeddedPicture& open = embedded_pictures[6];
    const QImage indexed = QImage::fromData(open.bytes, static_cast<int>(open.size), "BMP");
    ASSERT_EQ(indexed.colorCount(), 16);
    EXPECT_EQ(indexed.color(7), qRgb(192, 192, 192));
    EXPECT_EQ(indexed.color(11), qRgb(255, 255, 0));
    EXPECT_EQ(indexed.color(15), white);
}

// The texts of labels and frame titles fit their boxes, with the panel's font and with a wide
// face standing in for it.
TEST_F(QtWindowTest, LabelAndFrameTextsFitTheirBoxes) {
    const QFont panel_font = QApplication::font();
    QFont wide = panel_font;
    wide.setFamilies({QStringLiteral("DejaVu Sans")});
    for (const QFont& font : {panel_font, wide}) {
        SCOPED_TRACE(font.family().toStdString());
        QApplication::setFont(font);
        for (int id = ids::LABEL_AXES; id <= ids::LABEL_PROGRAM_TYPE; ++id) {
            SCOPED_TRACE("label " + std::to_string(id));
            auto* label = widget<QLabel>(id);
            platform::set_control_text(id, label->text().toStdString());
            EXPECT_LE(QFontMetricsF(label->font()).horizontalAdvance(label->text()),
                      label->width());
        }
        for (int id = ids::FRAME_FIRST; id <= ids::FRAME_LAST; ++id) {
            SCOPED_TRACE("frame " + std::to_string(id));
            auto* frame = widget<QGroupBox>(id);
            EXPECT_LE(QFontMetricsF(frame->font()).horizontalAdvance(frame->title()),
                      frame->width() - 10);
        }
    }
    QApplication::setFont(panel_font);
}
