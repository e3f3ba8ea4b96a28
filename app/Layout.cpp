#include "app/Layout.h"

#include <QComboBox>
#include <QFile>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QTextBrowser>
#include <map>
#include <string_view>
#include <vector>

#include "app/Accessibility.h"
#include "app/CurvePane.h"
#include "app/FlatButton.h"
#include "app/Texts.h"
#include "app/TuningDisplay.h"
#include "core/Notes.h"
#include "tuning/Styles.h"

namespace harmolune {

namespace {

enum class Kind {
    Frame,          // no border, no caption
    BorderedFrame,  // single-line border, no caption
    Picture,        // text: the picture's resource
    Heading,        // transparent, centred; colour: the text's
    Display,        // black box, green text, large font; align: the text's
    Key,            // a Clavier member; tag, tooltip and colour from the note table
    StringButton,   // a Corde member; tag from the note table
    Line,           // a Line3 member: left is its X, penPx its width
    ScrollBar,      // the octave selector
    TextBox,        // the octave read-out
    Button,         // push button with a caption
    HelpView,       // the help pane
    Tuning,         // the tuning display: black box, green text, drawn by itself
    StyleBox,       // the curve's styles, to choose from
    CurveView,      // the curve's pane
};

struct Row {
    std::string_view name;       // object name
    std::string_view container;  // "" for the window's client area
    Kind kind;
    int left, top, width, height;  // twips, relative to the container
    std::string_view text = {};
    std::string_view tooltip = {};
    int index = -1;  // member index in its control array
    QRgb colour = 0;
    Qt::Alignment align = Qt::AlignCenter;
    int penPx = 0;
    // What a screen reader calls it; a display's is its heading, read
    // before its value. Keys and strings take theirs from the note tables.
    std::string_view accessibleName = {};
};

constexpr QRgb kWhite = 0xFFFFFF;
constexpr QRgb kStringRed = 0x400000;
constexpr QRgb kBrass = 0xC0C000;
constexpr QRgb kSteel = 0xC0C0C0;
constexpr Qt::Alignment kRight = Qt::AlignRight | Qt::AlignVCenter;
constexpr Qt::Alignment kCentre = Qt::AlignCenter;

using namespace texts;

// Within each container the first row lies on top.
constexpr Row kRows[] = {
    {"Command1", "", Kind::Button, 10560, 120, 1035, 315, kCloseHelpCaption, kCloseHelpTooltip},
    {"RichTextBox1", "", Kind::HelpView, 0, 0, 11895, 5535, {}, {}, -1, 0, {}, 0, kHelpName},
    // Over the whole window while open, at the size it then has.
    {"CurvePane", "", Kind::CurveView, 0, 0, 4515, 6495},
    {"Frame3", "", Kind::Frame, 2340, 120, 2055, 2115, {}, {}, -1, 0, {}, 0, kGuitarName},
    {"Frame2", "", Kind::Frame, 120, 120, 2055, 2115, {}, {}, -1, 0, {}, 0, kPianoName},
    {"Frame1", "", Kind::BorderedFrame, 120, 3420, 4275, 615},
    {"TuningStrip", "", Kind::Frame, 0, layout::kStripTopTwips, 4515, layout::kStripHeightTwips},
    {"Label8_1", "", Kind::Heading, 2880, 2640, 1455, 195, kInstrumentHeading},
    {"Label8_0", "", Kind::Heading, 2880, 2460, 1455, 195, kFrequencyHeading},
    {"Label7_1", "", Kind::Heading, 1320, 2640, 1515, 195, kReferenceHeading},
    {"Label7_0", "", Kind::Heading, 1320, 2460, 1515, 195, kFrequencyHeading},
    {"Label6", "", Kind::Heading, 720, 2520, 735, 195, kOctaveHeading},
    {"Label5", "", Kind::Heading, 120, 2520, 795, 195, kNoteHeading},
    {"Label1", "", Kind::Display, 2880, 2820, 1515, 435, {}, {}, -1, 0, kRight, 0, kMeasuredName},
    {"Label4", "", Kind::Display, 1320, 2820, 1515, 435, {}, {}, -1, 0, kRight, 0, kReferenceName},
    {"Label3", "", Kind::Display, 960, 2820, 315, 435, {}, {}, -1, 0, kCentre, 0, kOctaveName},
    {"Label2", "", Kind::Display, 120, 2820, 795, 435, {}, {}, -1, 0, kCentre, 0, kNoteName},

    // Piano panel. Text1 covers the middle of HScroll1 and leaves 240 twips
    // of each end, the arrow buttons, uncovered.
    {"Text1", "Frame2", Kind::TextBox, 840, 420, 435, 315, "0", {}, -1, 0, {}, 0, kOctaveName},
    {"Clavier_1", "Frame2", Kind::Key, 300, 900, 195, 615, {}, {}, 1},
    {"Clavier_3", "Frame2", Kind::Key, 600, 900, 195, 615, {}, {}, 3},
    {"Clavier_6", "Frame2", Kind::Key, 1020, 900, 195, 615, {}, {}, 6},
    {"Clavier_8", "Frame2", Kind::Key, 1290, 900, 195, 615, {}, {}, 8},
    {"Clavier_10", "Frame2", Kind::Key, 1560, 900, 195, 615, {}, {}, 10},
    {"HScroll1", "Frame2", Kind::ScrollBar, 600, 420, 915, 315, {}, {}, -1, 0, {}, 0, kOctaveName},
    {"Clavier_0", "Frame2", Kind::Key, 180, 900, 255, 1035, {}, {}, 0},
    {"Clavier_2", "Frame2", Kind::Key, 420, 900, 255, 1035, {}, {}, 2},
    {"Clavier_4", "Frame2", Kind::Key, 660, 900, 255, 1035, {}, {}, 4},
    {"Clavier_5", "Frame2", Kind::Key, 900, 900, 255, 1035, {}, {}, 5},
    {"Clavier_7", "Frame2", Kind::Key, 1140, 900, 255, 1035, {}, {}, 7},
    {"Clavier_9", "Frame2", Kind::Key, 1380, 900, 255, 1035, {}, {}, 9},
    {"Clavier_11", "Frame2", Kind::Key, 1620, 900, 255, 1035, {}, {}, 11},
    {"Label10", "Frame2", Kind::Heading, 540, 180, 975, 195, kOctaveHeading, {}, -1, kWhite},
    {"Image1", "Frame2", Kind::Picture, 0, 0, 2055, 2115, ":/pictures/piano-wood.png"},

    // Guitar panel.
    {"Corde_4", "Frame3", Kind::StringButton, 180, 960, 195, 195, {}, {}, 4, kStringRed},
    {"Corde_9", "Frame3", Kind::StringButton, 480, 960, 195, 195, {}, {}, 9, kStringRed},
    {"Corde_14", "Frame3", Kind::StringButton, 780, 960, 195, 195, {}, {}, 14, kStringRed},
    {"Corde_19", "Frame3", Kind::StringButton, 1080, 960, 195, 195, {}, {}, 19, kStringRed},
    {"Corde_23", "Frame3", Kind::StringButton, 1380, 960, 195, 195, {}, {}, 23, kStringRed},
    {"Corde_28", "Frame3", Kind::StringButton, 1680, 960, 195, 195, {}, {}, 28, kStringRed},
    {"Line3_0", "Frame3", Kind::Line, 300, 0, 0, 2115, {}, {}, 0, kBrass, {}, 6},
    {"Line3_1", "Frame3", Kind::Line, 600, 0, 0, 2115, {}, {}, 1, kBrass, {}, 5},
    {"Line3_2", "Frame3", Kind::Line, 900, 0, 0, 2115, {}, {}, 2, kBrass, {}, 4},
    {"Line3_3", "Frame3", Kind::Line, 1200, 0, 0, 2115, {}, {}, 3, kBrass, {}, 3},
    {"Line3_4", "Frame3", Kind::Line, 1500, 0, 0, 2115, {}, {}, 4, kSteel, {}, 2},
    {"Line3_5", "Frame3", Kind::Line, 1800, 0, 0, 2115, {}, {}, 5, kSteel, {}, 2},
    {"Image2", "Frame3", Kind::Picture, 0, 0, 2055, 2115, ":/pictures/guitar-top.png"},

    // Button bar.
    {"Command2", "Frame1", Kind::Button, 120, 180, 3195, 315, kSampleCaption},
    {"Command0", "Frame1", Kind::Button, 3420, 180, 735, 315, kHelpCaption, kHelpTooltip},

    // The strip, with the margins of the button bar above it: the display,
    // then the curve's row, in the order Tab takes.
    {"TuningDisplay", "TuningStrip", Kind::Tuning, 120, 60, 4275, 1845},
    {"CurveStyle",
     "TuningStrip",
     Kind::StyleBox,
     120,
     1965,
     1875,
     315,
     {},
     kStyleTooltip,
     -1,
     0,
     {},
     0,
     kStyleName},
    {"NewPiano", "TuningStrip", Kind::Button, 2040, 1965, 1410, 315, kNewPianoCaption,
     kNewPianoTooltip},
    {"CurveButton", "TuningStrip", Kind::Button, 3495, 1965, 900, 315, kCurveCaption,
     kCurveTooltip},
};

constexpr bool AllWholePixels() {
    for (const Row& r : kRows) {
        for (int twips : {r.left, r.top, r.width, r.height}) {
            if (twips % layout::kTwipsPerPixel != 0) {
                return false;
            }
        }
    }
    return true;
}
static_assert(AllWholePixels(), "every position and size is a whole number of pixels");

QString Q(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QFont SansSerif(int pixels) {
    QFont font;
    font.setFamilies({"MS Sans Serif", "DejaVu Sans"});
    font.setPixelSize(pixels);
    return font;
}

// The displays' face. DejaVu Sans, the usual stand-in, is too wide at 18
// pixels for "7902.13 Hz" in a 99-pixel box; its condensed cut fits.
QFont DisplayFont() {
    QFont font;
    font.setFamilies({"MS Sans Serif", "DejaVu Sans Condensed", "Liberation Sans Narrow"});
    font.setPixelSize(layout::kDisplayFontPx);
    return font;
}

// Black, green text, a sunken panel's frame.
void LookLikeADisplay(QFrame& display) {
    display.setAutoFillBackground(true);
    QPalette palette = display.palette();
    palette.setColor(QPalette::Window, QColor(0, 0, 0));
    palette.setColor(QPalette::WindowText, QColor(0, 192, 0));
    display.setPalette(palette);
    display.setFrameStyle(QFrame::Panel | QFrame::Sunken);
}

std::string_view StringTag(int index) {
    for (const StringInfo& s : kStrings) {
        if (s.index == index) {
            return s.tag;
        }
    }
    return {};
}

QWidget* Make(const Row& r, QWidget* parent) {
    const QRect box(layout::Px(r.left), layout::Px(r.top), layout::Px(r.width),
                    layout::Px(r.height));
    QWidget* w = nullptr;
    switch (r.kind) {
        case Kind::Frame:
        case Kind::BorderedFrame: {
            auto* frame = new QFrame(parent);
            accessibility::MarkGroup(*frame);
            if (r.kind == Kind::BorderedFrame) {
                frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
            }
            w = frame;
            break;
        }
        case Kind::Picture: {
            auto* picture = new QLabel(parent);
            accessibility::MarkHidden(*picture);
            picture->setPixmap(QPixmap(Q(r.text)));
            w = picture;
            break;
        }
        case Kind::Heading: {
            // The display or control it labels says its words.
            auto* heading = new QLabel(parent);
            accessibility::MarkHidden(*heading);
            heading->setText(Q(r.text));
            heading->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
            if (r.colour != 0) {
                QPalette palette = heading->palette();
                palette.setColor(QPalette::WindowText, QColor(r.colour));
                heading->setPalette(palette);
            }
            w = heading;
            break;
        }
        case Kind::Display: {
            auto* display = new QLabel(parent);
            accessibility::MarkDisplay(*display, Q(r.accessibleName));
            LookLikeADisplay(*display);
            // A framed label otherwise indents its text by half an "x",
            // which cost the first digit of a frequency of 1000 Hz or more.
            display->setIndent(0);
            display->setFont(DisplayFont());
            display->setAlignment(r.align);
            w = display;
            break;
        }
        case Kind::Key: {
            const KeyInfo& key = kKeys[static_cast<std::size_t>(r.index)];
            auto* button = new FlatButton(
                r.index, Q(key.tag), key.black ? QColor(0, 0, 0) : QColor(255, 255, 255), parent);
            button->setToolTip(Q(key.tooltip));
            button->setAccessibleName(accessibility::SpokenText(Q(key.tag)));
            button->setAccessibleDescription(accessibility::SpokenText(Q(key.tooltip)));
            w = button;
            break;
        }
        case Kind::StringButton: {
            auto* button = new FlatButton(r.index, Q(StringTag(r.index)), QColor(r.colour), parent);
            button->setToolTip(Q(kStringTooltip));
            // "Mi 2" and "Mi 4" tell the two Mi strings apart.
            button->setAccessibleName(Q(StringTag(r.index)) + ' ' +
                                      Q(ChooseString(r.index, ".").octaveText));
            button->setAccessibleDescription(Q(kStringTooltip));
            w = button;
            break;
        }
        case Kind::Line: {
            auto* line = new QWidget(parent);
            accessibility::MarkHidden(*line);
            line->setAutoFillBackground(true);
            QPalette palette = line->palette();
            palette.setColor(QPalette::Window, QColor(r.colour));
            line->setPalette(palette);
            // A wide line is drawn centred on its X.
            const int x = layout::Px(r.left) - r.penPx / 2;
            line->setGeometry(x, box.top(), r.penPx, box.height());
            line->setObjectName(Q(r.name));
            return line;
        }
        case Kind::ScrollBar: {
            auto* bar = new QScrollBar(Qt::Horizontal, parent);
            accessibility::MarkStepper(*bar);
            bar->setRange(kMinOctave, kMaxOctave);
            bar->setSingleStep(1);
            bar->setPageStep(1);
            // Reached with Tab; the arrow keys step the octave. A scroll bar
            // inverts its keys by default, so that Left would raise it.
            bar->setFocusPolicy(Qt::TabFocus);
            bar->setInvertedControls(false);
            w = bar;
            break;
        }
        case Kind::TextBox: {
            // Read-only: the octave is set with the arrows only, and what is
            // saved is the scroll bar's value.
            auto* text = new QLineEdit(Q(r.text), parent);
            text->setReadOnly(true);
            text->setAlignment(Qt::AlignCenter);
            // The octave selector under it takes the keyboard instead.
            text->setFocusPolicy(Qt::NoFocus);
            w = text;
            break;
        }
        case Kind::Button: {
            auto* button = new QPushButton(Q(r.text), parent);
            // Enter and Return press it, as they press the keys.
            button->setAutoDefault(true);
            w = button;
            break;
        }
        case Kind::Tuning: {
            auto* display = new TuningDisplay(parent);
            LookLikeADisplay(*display);
            display->setFont(DisplayFont());
            w = display;
            break;
        }
        case Kind::StyleBox: {
            auto* styles = new QComboBox(parent);
            for (const tuning::Style& style : tuning::Styles()) {
                styles->addItem(QString::fromStdString(style.name));
            }
            // Screen readers on Linux name a combo box by its current item
            // and take its label from a label whose buddy it is: this one,
            // which shows nowhere, says what the choice is of.
            auto* label = new QLabel(Q(r.accessibleName), parent);
            label->setObjectName(Q(r.name) + QStringLiteral("Label"));
            label->setBuddy(styles);
            label->hide();
            w = styles;
            break;
        }
        case Kind::CurveView:
            w = new CurvePane(parent);
            break;
        case Kind::HelpView: {
            auto* view = new QTextBrowser(parent);
            view->setOpenLinks(false);
            QFile file(":/help/help.html");
            if (file.open(QIODevice::ReadOnly)) {
                view->setHtml(QString::fromUtf8(file.readAll()));
            }
            view->hide();
            w = view;
            break;
        }
    }
    if (!r.tooltip.empty()) {
        w->setToolTip(Q(r.tooltip));
    }
    if (!r.accessibleName.empty() && r.kind != Kind::Display) {
        w->setAccessibleName(Q(r.accessibleName));
    }
    w->setObjectName(Q(r.name));
    w->setGeometry(box);
    return w;
}

}  // namespace

Controls BuildLayout(QWidget& form) {
    form.setFont(SansSerif(layout::kDefaultFontPx));
    form.setFixedSize(layout::kClientSize);

    std::map<std::string_view, QWidget*> made{{"", &form}};
    for (const Row& r : kRows) {
        made[r.name] = Make(r, made.at(r.container));
    }
    // Raising from the bottom of each stack up leaves the first row on top.
    for (auto r = std::rbegin(kRows); r != std::rend(kRows); ++r) {
        made.at(r->name)->raise();
    }

    Controls c;
    for (std::size_t k = 0; k < c.clavier.size(); ++k) {
        c.clavier[k] = static_cast<FlatButton*>(made.at("Clavier_" + std::to_string(k)));
    }
    for (std::size_t i = 0; i < c.corde.size(); ++i) {
        c.corde[i] =
            static_cast<FlatButton*>(made.at("Corde_" + std::to_string(kStrings[i].index)));
    }
    c.octaveSelector = static_cast<QScrollBar*>(made.at("HScroll1"));
    c.octaveReadOut = static_cast<QLineEdit*>(made.at("Text1"));
    c.measuredFrequency = static_cast<QLabel*>(made.at("Label1"));
    c.noteName = static_cast<QLabel*>(made.at("Label2"));
    c.octave = static_cast<QLabel*>(made.at("Label3"));
    c.referenceFrequency = static_cast<QLabel*>(made.at("Label4"));
    c.help = static_cast<QPushButton*>(made.at("Command0"));
    c.closeHelp = static_cast<QPushButton*>(made.at("Command1"));
    c.sample = static_cast<QPushButton*>(made.at("Command2"));
    c.helpPane = static_cast<QTextBrowser*>(made.at("RichTextBox1"));
    c.tuningDisplay = static_cast<TuningDisplay*>(made.at("TuningDisplay"));
    c.curveStyle = static_cast<QComboBox*>(made.at("CurveStyle"));
    c.newPiano = static_cast<QPushButton*>(made.at("NewPiano"));
    c.curveButton = static_cast<QPushButton*>(made.at("CurveButton"));
    c.curvePane = static_cast<CurvePane*>(made.at("CurvePane"));
    c.closeHelp->hide();

    // Tab goes through the keys in pitch order, the strings from the lowest,
    // the octave selector, the two buttons, the tuning display, then the
    // curve's row: its style, "Nouveau piano", "Courbe...". In the curve's
    // pane, the only stops while it is open: its table, then "Fermer". At start
    // the first key holds the focus, so that a screen reader says where one
    // stands; its frame waits for the first Tab (FlatButton).
    std::vector<QWidget*> tabOrder(c.clavier.begin(), c.clavier.end());
    tabOrder.insert(tabOrder.end(), c.corde.begin(), c.corde.end());
    tabOrder.insert(tabOrder.end(),
                    {c.octaveSelector, c.sample, c.help, c.tuningDisplay, c.curveStyle, c.newPiano,
                     c.curveButton, c.closeHelp, static_cast<QWidget*>(c.curvePane->Table()),
                     c.curvePane->CloseButton()});
    for (std::size_t i = 1; i < tabOrder.size(); ++i) {
        QWidget::setTabOrder(tabOrder[i - 1], tabOrder[i]);
    }
    accessibility::ShowFocusOf(*c.octaveSelector, *c.octaveReadOut);
    c.clavier[0]->setFocus();
    return c;
}

}  // namespace harmolune
