// Every control of the window against the layout tables: container,
// position and size (twips as the tables give them, 15 to the pixel), texts,
// tags, tooltips, colours, fonts and what is hidden at start.
#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextLayout>
#include <memory>
#include <string>
#include <vector>

#include "app/FlatButton.h"
#include "app/MainWindow.h"
#include "app/TuningDisplay.h"
#include "sound/CaptureDevice.h"
#include "testing/RecordingMidiOutput.h"

namespace harmolune {
namespace {

struct Placement {
    const char* name;
    const char* container;
    int left, top, width, height;  // twips, as in the tables
};

// Typed from the tables of the window, the piano panel, the guitar panel,
// the string buttons and the button bar.
const Placement kPlacements[] = {
    {"Command1", "Form1", 10560, 120, 1035, 315},   {"RichTextBox1", "Form1", 0, 0, 11895, 5535},
    {"Frame3", "Form1", 2340, 120, 2055, 2115},     {"Frame2", "Form1", 120, 120, 2055, 2115},
    {"Frame1", "Form1", 120, 3420, 4275, 615},      {"Label8_1", "Form1", 2880, 2640, 1455, 195},
    {"Label8_0", "Form1", 2880, 2460, 1455, 195},   {"Label7_1", "Form1", 1320, 2640, 1515, 195},
    {"Label7_0", "Form1", 1320, 2460, 1515, 195},   {"Label6", "Form1", 720, 2520, 735, 195},
    {"Label5", "Form1", 120, 2520, 795, 195},       {"Label1", "Form1", 2880, 2820, 1515, 435},
    {"Label4", "Form1", 1320, 2820, 1515, 435},     {"Label3", "Form1", 960, 2820, 315, 435},
    {"Label2", "Form1", 120, 2820, 795, 435},       {"Text1", "Frame2", 840, 420, 435, 315},
    {"HScroll1", "Frame2", 600, 420, 915, 315},     {"Label10", "Frame2", 540, 180, 975, 195},
    {"Image1", "Frame2", 0, 0, 2055, 2115},         {"Clavier_0", "Frame2", 180, 900, 255, 1035},
    {"Clavier_1", "Frame2", 300, 900, 195, 615},    {"Clavier_2", "Frame2", 420, 900, 255, 1035},
    {"Clavier_3", "Frame2", 600, 900, 195, 615},    {"Clavier_4", "Frame2", 660, 900, 255, 1035},
    {"Clavier_5", "Frame2", 900, 900, 255, 1035},   {"Clavier_6", "Frame2", 1020, 900, 195, 615},
    {"Clavier_7", "Frame2", 1140, 900, 255, 1035},  {"Clavier_8", "Frame2", 1290, 900, 195, 615},
    {"Clavier_9", "Frame2", 1380, 900, 255, 1035},  {"Clavier_10", "Frame2", 1560, 900, 195, 615},
    {"Clavier_11", "Frame2", 1620, 900, 255, 1035}, {"Image2", "Frame3", 0, 0, 2055, 2115},
    {"Corde_4", "Frame3", 180, 960, 195, 195},      {"Corde_9", "Frame3", 480, 960, 195, 195},
    {"Corde_14", "Frame3", 780, 960, 195, 195},     {"Corde_19", "Frame3", 1080, 960, 195, 195},
    {"Corde_23", "Frame3", 1380, 960, 195, 195},    {"Corde_28", "Frame3", 1680, 960, 195, 195},
    {"Command2", "Frame1", 120, 180, 3195, 315},    {"Command0", "Frame1", 3420, 180, 735, 315},
};

// The curve's row under the tuning display, in the button bar's margins.
const Placement kStripPlacements[] = {
    {"CurveStyle", "TuningStrip", 120, 1965, 1875, 315},
    {"NewPiano", "TuningStrip", 2040, 1965, 1410, 315},
    {"CurveButton", "TuningStrip", 3495, 1965, 900, 315},
};

class LayoutTest : public ::testing::Test {
  protected:
    RecordingMidiOutput midi;
    NoCapture capture;
    MainWindow window{midi, capture, "/nonexistent/Harmolune.ini"};

    template <typename T = QWidget>
    T* Find(const char* name) {
        T* w = window.findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
};

TEST_F(LayoutTest, EveryControlSitsInItsContainerAtItsPlace) {
    std::vector<Placement> all(std::begin(kPlacements), std::end(kPlacements));
    all.insert(all.end(), std::begin(kStripPlacements), std::end(kStripPlacements));
    for (const Placement& p : all) {
        SCOPED_TRACE(p.name);
        const QWidget* w = Find(p.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->parentWidget()->objectName(), p.container);
        EXPECT_EQ(w->geometry(), QRect(p.left / 15, p.top / 15, p.width / 15, p.height / 15));
    }
}

TEST_F(LayoutTest, TwelveKeysSixStringsSixLinesAndNoMore) {
    int keys = 0, strings = 0, lines = 0;
    for (const QWidget* w : window.findChildren<QWidget*>()) {
        keys += w->objectName().startsWith("Clavier_");
        strings += w->objectName().startsWith("Corde_");
        lines += w->objectName().startsWith("Line3_");
    }
    EXPECT_EQ(keys, 12);
    EXPECT_EQ(strings, 6);
    EXPECT_EQ(lines, 6);
}

TEST_F(LayoutTest, StringsAreLinesCentredOnTheirXAcrossThePanel) {
    struct Line {
        const char* name;
        int xTwips;
        int widthPx;
        QColor colour;
    };
    const Line lines[] = {
        {"Line3_0", 300, 6, QColor(192, 192, 0)},    {"Line3_1", 600, 5, QColor(192, 192, 0)},
        {"Line3_2", 900, 4, QColor(192, 192, 0)},    {"Line3_3", 1200, 3, QColor(192, 192, 0)},
        {"Line3_4", 1500, 2, QColor(192, 192, 192)}, {"Line3_5", 1800, 2, QColor(192, 192, 192)},
    };
    for (const Line& l : lines) {
        SCOPED_TRACE(l.name);
        const QWidget* w = Find(l.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->parentWidget()->objectName(), "Frame3");
        EXPECT_EQ(w->width(), l.widthPx);
        EXPECT_EQ(w->y(), 0);
        EXPECT_EQ(w->height(), 2115 / 15);
        // The centre of the line is its X: x + width / 2 rounds down.
        EXPECT_EQ(w->x() + l.widthPx / 2, l.xTwips / 15);
        EXPECT_EQ(w->palette().color(QPalette::Window), l.colour);
        EXPECT_TRUE(w->autoFillBackground());
    }
}

TEST_F(LayoutTest, WindowIsFixedWithACloseBoxOnly) {
    EXPECT_EQ(window.objectName(), "Form1");
    EXPECT_EQ(window.windowTitle(), "Harmolune");
    // The controls' 4095 twips, and the strip of the tuning display below.
    EXPECT_EQ(window.size(), QSize(4515 / 15, (4095 + 2400) / 15));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(window.windowIcon().isNull());
    EXPECT_TRUE(window.windowIcon().availableSizes().contains(QSize(16, 16)));
    EXPECT_TRUE(window.windowIcon().availableSizes().contains(QSize(32, 32)));
}

// Below every control of the tables, as wide as the window, and all that the
// window grew by: the tuning display, in the button bar's margins.
TEST_F(LayoutTest, TheStripLiesBelowEverythingElseAndIsAllTheWindowGrewBy) {
    const QWidget* strip = Find("TuningStrip");
    ASSERT_NE(strip, nullptr);
    EXPECT_EQ(strip->parentWidget(), &window);
    EXPECT_EQ(strip->geometry(), QRect(0, 4095 / 15, window.width(), 160));
    EXPECT_EQ(window.height(), 4095 / 15 + strip->height());
    for (const Placement& p : kPlacements) {
        if (std::string(p.container) == "Form1" && std::string(p.name) != "RichTextBox1") {
            EXPECT_LE((p.top + p.height) / 15, strip->y()) << p.name;
        }
    }
    const QWidget* display = Find("TuningDisplay");
    ASSERT_NE(display, nullptr);
    EXPECT_EQ(display->parentWidget(), strip);
    // Frame1's left and width: 120 and 4275 twips; five rows of text.
    EXPECT_EQ(display->geometry(), QRect(8, 4, 285, 123));
    EXPECT_EQ(display->sizeHint(), display->size());
    EXPECT_EQ(window.Widgets().tuningDisplay, display);
    // The curve's row under it, inside the strip.
    for (const Placement& p : kStripPlacements) {
        const QWidget* w = Find(p.name);
        ASSERT_NE(w, nullptr);
        EXPECT_GT(w->y(), display->geometry().bottom()) << p.name;
        EXPECT_LE(w->geometry().bottom(), strip->height() - 8) << p.name;
    }
}

// Every style's name and both captions are read whole, without eliding.
TEST_F(LayoutTest, TheCurvesRowHoldsItsTextsWhole) {
    auto* style = Find<QComboBox>("CurveStyle");
    ASSERT_NE(style, nullptr);
    QStringList names;
    for (int i = 0; i < style->count(); ++i) {
        names << style->itemText(i);
    }
    EXPECT_EQ(names, QStringList({"Standard", "Douzièmes pures", "Octaves 4:2", "Octaves 6:3"}));
    EXPECT_LE(style->sizeHint().width(), style->width());
    EXPECT_EQ(style->accessibleName(), "Style de la courbe");
    // What screen readers on Linux take its name from.
    const auto* label = Find<QLabel>("CurveStyleLabel");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->buddy(), style);
    EXPECT_EQ(label->text(), "Style de la courbe");
    EXPECT_TRUE(label->isHidden());
    // A push button's frame and padding take 5 pixels on each side.
    for (const char* name : {"NewPiano", "CurveButton"}) {
        const auto* button = Find<QPushButton>(name);
        ASSERT_NE(button, nullptr);
        EXPECT_LE(button->fontMetrics().horizontalAdvance(button->text()) + 10, button->width())
            << name;
    }
    EXPECT_EQ(Find<QPushButton>("NewPiano")->text(), "Nouveau piano");
    EXPECT_EQ(Find<QPushButton>("CurveButton")->text(), "Courbe...");
}

TEST_F(LayoutTest, TheTuningDisplayLooksLikeTheOtherDisplays) {
    auto* display = Find<QFrame>("TuningDisplay");
    ASSERT_NE(display, nullptr);
    EXPECT_TRUE(display->autoFillBackground());
    EXPECT_EQ(display->palette().color(QPalette::Window), QColor(0, 0, 0));
    EXPECT_EQ(display->palette().color(QPalette::WindowText), QColor(0, 192, 0));
    EXPECT_EQ(display->frameShape(), Find<QLabel>("Label1")->frameShape());
    EXPECT_EQ(display->frameShadow(), Find<QLabel>("Label1")->frameShadow());
    EXPECT_EQ(display->font().families(), Find<QLabel>("Label1")->font().families());
    EXPECT_EQ(Find<QFrame>("TuningStrip")->frameShape(), QFrame::NoFrame);
}

TEST_F(LayoutTest, KeysCarryTheirTagTooltipAndColour) {
    struct Key {
        int index;
        const char* tag;
        const char* tooltip;
        bool black;
    };
    const Key keys[] = {
        {0, "Do", "Jouer DO", false},    {1, "Do#", "Jouer Do#", true},
        {2, "Ré", "Jouer Ré", false},    {3, "Mib", "Jouer Mib", true},
        {4, "Mi", "Jouer Mi", false},    {5, "Fa", "Jouer Fa", false},
        {6, "Fa#", "Jouer Fa#", true},   {7, "Sol", "Jouer Sol", false},
        {8, "Sol#", "Jouer Sol#", true}, {9, "La", "Jouer La", false},
        {10, "Sib", "Jouer Sib", true},  {11, "Si", "Jouer Si", false},
    };
    for (const Key& k : keys) {
        SCOPED_TRACE(k.index);
        auto* key = Find<FlatButton>(("Clavier_" + std::to_string(k.index)).c_str());
        ASSERT_NE(key, nullptr);
        EXPECT_EQ(key->Index(), k.index);
        EXPECT_EQ(key->property("Tag").toString(), QString::fromUtf8(k.tag));
        EXPECT_EQ(key->toolTip(), QString::fromUtf8(k.tooltip));
        EXPECT_EQ(key->text(), "");
        EXPECT_EQ(key->Fill(), k.black ? QColor(0, 0, 0) : QColor(255, 255, 255));
    }
}

TEST_F(LayoutTest, StringButtonsCarryTheirIndexTagAndTooltip) {
    const std::pair<int, const char*> strings[] = {{4, "Mi"},   {9, "La"},  {14, "Ré"},
                                                   {19, "Sol"}, {23, "Si"}, {28, "Mi"}};
    for (const auto& [index, tag] : strings) {
        SCOPED_TRACE(index);
        auto* button = Find<FlatButton>(("Corde_" + std::to_string(index)).c_str());
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->Index(), index);
        EXPECT_EQ(button->property("Tag").toString(), QString::fromUtf8(tag));
        EXPECT_EQ(button->toolTip(), "Gratter cette corde");
        EXPECT_EQ(button->Fill(), QColor(64, 0, 0));
    }
}

TEST_F(LayoutTest, HeadingsButtonsAndReadOut) {
    const std::pair<const char*, const char*> texts[] = {
        {"Label8_1", "instrument"}, {"Label8_0", "Fréquence"}, {"Label7_1", "référence"},
        {"Label7_0", "Fréquence"},  {"Label6", "Octave"},      {"Label5", "Note"},
        {"Label10", "Octave"},
    };
    for (const auto& [name, text] : texts) {
        SCOPED_TRACE(name);
        auto* label = Find<QLabel>(name);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), QString::fromUtf8(text));
        EXPECT_TRUE(label->alignment() & Qt::AlignHCenter);
        EXPECT_FALSE(label->autoFillBackground());  // transparent
    }
    EXPECT_EQ(Find<QLabel>("Label10")->palette().color(QPalette::WindowText),
              QColor(255, 255, 255));

    EXPECT_EQ(Find<QPushButton>("Command2")->text(), "Échantillonner l'instrument");
    EXPECT_EQ(Find<QPushButton>("Command0")->text(), "Aide...");
    EXPECT_EQ(Find<QPushButton>("Command0")->toolTip(), "Afficher l'aide...");
    EXPECT_EQ(Find<QPushButton>("Command1")->text(), "Fermer");
    EXPECT_EQ(Find<QPushButton>("Command1")->toolTip(), "Fermer l'aide");

    auto* octaveReadOut = Find<QLineEdit>("Text1");
    EXPECT_EQ(octaveReadOut->text(), "0");
    EXPECT_TRUE(octaveReadOut->isReadOnly());

    auto* bar = Find<QScrollBar>("HScroll1");
    EXPECT_EQ(bar->orientation(), Qt::Horizontal);
    EXPECT_EQ(bar->minimum(), -1);
    EXPECT_EQ(bar->maximum(), 8);
    EXPECT_EQ(bar->singleStep(), 1);
}

TEST_F(LayoutTest, DisplaysAreGreenOnBlackInTheLargeFontAndEmpty) {
    const std::pair<const char*, Qt::Alignment> displays[] = {{"Label1", Qt::AlignRight},
                                                              {"Label4", Qt::AlignRight},
                                                              {"Label3", Qt::AlignHCenter},
                                                              {"Label2", Qt::AlignHCenter}};
    for (const auto& [name, align] : displays) {
        SCOPED_TRACE(name);
        auto* label = Find<QLabel>(name);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), "");
        EXPECT_TRUE(label->autoFillBackground());
        EXPECT_EQ(label->palette().color(QPalette::Window), QColor(0, 0, 0));
        EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(0, 192, 0));
        EXPECT_TRUE(label->alignment() & align);
        EXPECT_NE(label->frameShape(), QFrame::NoFrame);
        // 13.5 points at 96 dots per inch.
        EXPECT_EQ(label->font().pixelSize(), 18);
    }
    // 8.25 points at 96 dots per inch.
    EXPECT_EQ(window.font().pixelSize(), 11);
}

// The widest text each display can show, under point and comma settings,
// laid out as the label lays it out: its own font's metrics, its alignment,
// inside its contents rectangle (the box less its frame).
TEST_F(LayoutTest, TheWidestTextOfEachDisplayFitsInsideItsFrame) {
    struct Display {
        const char* name;
        std::vector<const char*> texts;
    };
    const Display displays[] = {
        {"Label1", {"7902.13 Hz", "7902,13 Hz", "...Hz"}},
        {"Label4", {"7902.13Hz", "7902,13Hz", "8.18Hz"}},
        {"Label3", {"-1", "8"}},
        {"Label2", {"Sol#", "Do#", "Mib", "Fa#", "Sib", "Ré"}},
    };
    for (const Display& d : displays) {
        auto* label = Find<QLabel>(d.name);
        ASSERT_NE(label, nullptr);
        // An automatic indent (half an "x" beside a frame) would narrow the
        // room left to the text.
        EXPECT_EQ(label->indent(), 0) << d.name;
        EXPECT_EQ(label->margin(), 0) << d.name;
        const QRect room = label->contentsRect();
        const QFontMetrics metrics(label->font());
        for (const char* text : d.texts) {
            SCOPED_TRACE(std::string(d.name) + " \"" + text + "\" in " +
                         QFontInfo(label->font()).family().toStdString());
            const QRect drawn = label->style()->itemTextRect(metrics, room, label->alignment(),
                                                             true, QString::fromUtf8(text));
            EXPECT_TRUE(room.contains(drawn))
                << "text " << drawn.width() << " x " << drawn.height() << " at " << drawn.x()
                << ", room " << room.width() << " x " << room.height() << " at " << room.x();
        }
    }
}

TEST_F(LayoutTest, FramesAndPictures) {
    EXPECT_EQ(Find<QFrame>("Frame1")->frameShape(), QFrame::Box);
    EXPECT_EQ(Find<QFrame>("Frame2")->frameShape(), QFrame::NoFrame);
    EXPECT_EQ(Find<QFrame>("Frame3")->frameShape(), QFrame::NoFrame);
    for (const char* name : {"Image1", "Image2"}) {
        SCOPED_TRACE(name);
        const QPixmap picture = Find<QLabel>(name)->pixmap();
        EXPECT_EQ(picture.size(), QSize(137, 141));
    }
}

TEST_F(LayoutTest, HelpAndItsButtonStartHiddenEverythingElseShown) {
    window.show();
    EXPECT_TRUE(Find("RichTextBox1")->isHidden());
    EXPECT_TRUE(Find("Command1")->isHidden());
    EXPECT_TRUE(Find("CurvePane")->isHidden());
    for (const Placement& p : kStripPlacements) {
        EXPECT_TRUE(Find(p.name)->isVisible()) << p.name;
    }
    for (const Placement& p : kPlacements) {
        if (std::string(p.name) != "RichTextBox1" && std::string(p.name) != "Command1") {
            EXPECT_TRUE(Find(p.name)->isVisible()) << p.name;
        }
    }
}

TEST_F(LayoutTest, HelpHoldsTheDocument) {
    const QString text = Find<QTextBrowser>("RichTextBox1")->toPlainText();
    EXPECT_TRUE(text.startsWith("Harmolune\nHarmolune de piano et de guitare"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("Version : 2.0.0 (Décembre 2009)"));
    EXPECT_TRUE(text.contains("\"échantillonner l'instrument\", puis jouer sa note."));
    EXPECT_TRUE(text.contains("(corde \"à vide\")."));
    EXPECT_TRUE(text.contains("vous pouvez adressez un courriel à :"));
    EXPECT_TRUE(Find<QTextBrowser>("RichTextBox1")->isReadOnly());
}

// The blanks between the help's paragraphs, in order, each one line of its
// stated size in points. Qt reads a lone <br> as a second line unless told
// otherwise, which doubled every blank.
TEST_F(LayoutTest, EachEmptyParagraphOfTheHelpIsOneLineOfItsSize) {
    const std::unique_ptr<QTextDocument> doc(
        Find<QTextBrowser>("RichTextBox1")->document()->clone());
    doc->setTextWidth(780);
    doc->documentLayout()->documentSize();  // lays out every block
    std::vector<int> sizes;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        if (!QString(block.text()).remove(QChar::LineSeparator).isEmpty()) {
            continue;
        }
        const QFont font = block.charFormat().font();
        sizes.push_back(font.pointSize());
        ASSERT_NE(block.layout(), nullptr);
        EXPECT_EQ(block.layout()->lineCount(), 1) << "blank " << sizes.size();
        EXPECT_NEAR(doc->documentLayout()->blockBoundingRect(block).height(),
                    QFontMetricsF(font).lineSpacing(), 1.0)
            << "blank " << sizes.size();
    }
    EXPECT_EQ(sizes, (std::vector<int>{4, 10, 11, 10, 4, 11, 11, 10, 4, 11, 11, 11, 8, 11}));
}

}  // namespace
}  // namespace harmolune
