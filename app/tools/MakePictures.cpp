// Draws the window's pictures at build time: the two wood backgrounds of the
// piano and guitar panels and the piano-keyboard icon at each size the
// desktop asks for. They are procedural (value noise, rectangles on whole
// pixels), so the project carries no binary images.
//
// Usage: harmolune-make-pictures OUTPUT_FOLDER

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QString>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace {

constexpr int kPanelWidth = 137;
constexpr int kPanelHeight = 141;

double Hash(int x, int y, int seed) {
    std::uint32_t h = static_cast<std::uint32_t>(x) * 374761393u +
                      static_cast<std::uint32_t>(y) * 668265263u +
                      static_cast<std::uint32_t>(seed) * 2147483647u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return (h & 0xFFFFFF) / double(0xFFFFFF);
}

// Smooth value noise in 0 ... 1.
double Noise(double x, double y, int seed) {
    const int x0 = static_cast<int>(std::floor(x));
    const int y0 = static_cast<int>(std::floor(y));
    const double fx = x - x0;
    const double fy = y - y0;
    const double sx = fx * fx * (3 - 2 * fx);
    const double sy = fy * fy * (3 - 2 * fy);
    const double a = Hash(x0, y0, seed) + sx * (Hash(x0 + 1, y0, seed) - Hash(x0, y0, seed));
    const double b =
        Hash(x0, y0 + 1, seed) + sx * (Hash(x0 + 1, y0 + 1, seed) - Hash(x0, y0 + 1, seed));
    return a + sy * (b - a);
}

double Fractal(double x, double y, int seed) {
    double sum = 0, weight = 0.5, total = 0;
    for (int octave = 0; octave < 4; ++octave) {
        sum += weight * Noise(x, y, seed + octave);
        total += weight;
        x *= 2;
        y *= 2;
        weight *= 0.5;
    }
    return sum / total;
}

QColor Mix(QColor a, QColor b, double t) {
    t = std::clamp(t, 0.0, 1.0);
    return QColor::fromRgbF(a.redF() + t * (b.redF() - a.redF()),
                            a.greenF() + t * (b.greenF() - a.greenF()),
                            a.blueF() + t * (b.blueF() - a.blueF()));
}

// Reddish-brown veneer, the grain running across the panel.
QImage PianoWood() {
    QImage image(kPanelWidth, kPanelHeight, QImage::Format_RGB32);
    const QColor light(170, 82, 48);
    const QColor dark(92, 34, 20);
    for (int y = 0; y < kPanelHeight; ++y) {
        for (int x = 0; x < kPanelWidth; ++x) {
            // The grain bends slowly along its length; dark bands of late
            // wood, uneven in width, and fine fibres along the grain.
            const double g = y + 6 * Fractal(x / 90.0, y / 45.0, 1);
            const double bands =
                0.5 + 0.5 * std::sin(g * 0.42 + 5 * Fractal(x / 70.0, g / 14.0, 7));
            const double fibres = Fractal(x / 30.0, g * 0.6, 13);
            const double t = 0.55 * std::pow(bands, 4) + 0.45 * fibres;
            image.setPixelColor(x, y, Mix(light, dark, t));
        }
    }
    return image;
}

// Pale spruce, the grain running along the strings, with the sound hole.
QImage GuitarTop() {
    QImage image(kPanelWidth, kPanelHeight, QImage::Format_RGB32);
    const QColor pale(236, 214, 168);
    const QColor line(196, 160, 108);
    for (int y = 0; y < kPanelHeight; ++y) {
        for (int x = 0; x < kPanelWidth; ++x) {
            // Growth rings seen edge-on: narrow dark lines, unevenly spaced.
            const double g = x + 3 * Fractal(y / 70.0, x / 12.0, 3) + 4 * Fractal(x / 9.0, 0.5, 5);
            const double stripe = std::pow(0.5 + 0.5 * std::sin(g * 2 * M_PI / 6.5), 6);
            const double grain = 0.7 * stripe + 0.3 * Fractal(g * 1.3, y / 40.0, 17);
            image.setPixelColor(x, y, Mix(pale, line, grain));
        }
    }
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF centre(kPanelWidth / 2.0, kPanelHeight / 2.0);
    // The rosette: rings of purfling round the hole.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(70, 40, 20), 2.0));
    p.drawEllipse(centre, 37.0, 37.0);
    p.setPen(QPen(QColor(40, 25, 15), 3.0));
    p.drawEllipse(centre, 33.5, 33.5);
    p.setPen(QPen(QColor(70, 40, 20), 1.0));
    p.drawEllipse(centre, 31.0, 31.0);
    QRadialGradient hole(centre, 29.0);
    hole.setColorAt(0.0, QColor(8, 6, 4));
    hole.setColorAt(0.85, QColor(22, 15, 9));
    hole.setColorAt(1.0, QColor(45, 30, 18));
    p.setPen(Qt::NoPen);
    p.setBrush(hole);
    p.drawEllipse(centre, 29.0, 29.0);
    return image;
}

// The icon: seven white keys with the five black keys of an octave over them,
// on a transparent background. Each size is laid out by hand on whole pixels,
// so that no edge is smoothed into grey.
struct KeyboardIcon {
    int size;         // the icon is size x size pixels
    int left, top;    // top-left corner of the keyboard's frame
    int pitch;        // from one white key's left edge to the next
    int line;         // width of the frame and of the lines between keys
    int height;       // of the keyboard, frame included
    int blackWidth;   // centred on the line between two white keys
    int blackHeight;  // from the top of the frame
    QColor divider;   // the lines between white keys
    int front;        // rows of the keys' front edges (0: none)
};

const QColor kBlack(0, 0, 0);
const QColor kWhite(255, 255, 255);

// At 16 pixels each semitone is one pixel wide, so a black key is no wider
// than the line under it: drawn in black, those lines would make the top of
// the keyboard even stripes. In grey they leave the black keys standing out
// in their groups of two and three.
const KeyboardIcon kIcons[] = {
    {16, 0, 2, 2, 1, 12, 1, 7, QColor(192, 192, 192), 0},
    {32, 2, 5, 4, 1, 22, 3, 13, kBlack, 0},
    {48, 2, 7, 6, 1, 33, 3, 20, kBlack, 2},
    {64, 3, 10, 8, 1, 44, 5, 27, kBlack, 3},
    {128, 7, 20, 16, 2, 88, 10, 54, kBlack, 6},
    {256, 14, 40, 32, 4, 176, 18, 108, kBlack, 12},
};

QImage Keyboard(const KeyboardIcon& k) {
    QImage image(k.size, k.size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    const int width = 7 * k.pitch + k.line;
    const int bottom = k.top + k.height;  // one past the last row
    p.fillRect(k.left, k.top, width, k.height, kBlack);
    p.fillRect(k.left + k.line, k.top + k.line, width - 2 * k.line, k.height - 2 * k.line, kWhite);
    for (int key = 1; key < 7; ++key) {
        p.fillRect(k.left + key * k.pitch, k.top + k.line, k.line, k.height - 2 * k.line,
                   k.divider);
    }
    if (k.front > 0) {
        // The white keys' rounded front edge, seen from above.
        for (int key = 0; key < 7; ++key) {
            p.fillRect(k.left + key * k.pitch + k.line, bottom - k.line - k.front, k.pitch - k.line,
                       k.front, QColor(208, 208, 208));
        }
    }
    for (int after : {0, 1, 3, 4, 5}) {  // Do#, Ré#, Fa#, Sol#, La#
        const int x = k.left + (after + 1) * k.pitch - (k.blackWidth - k.line) / 2;
        p.fillRect(x, k.top, k.blackWidth, k.blackHeight, kBlack);
        if (k.front > 0) {
            // The black key's sloping front, catching the light.
            const int slope = std::max(1, k.blackHeight / 8);
            p.fillRect(x, k.top + k.blackHeight - slope, k.blackWidth, slope, QColor(80, 80, 80));
        }
    }
    return image;
}

bool Save(const QImage& image, const QString& folder, const QString& name) {
    const QString path = folder + "/" + name;
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "harmolune-make-pictures: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: harmolune-make-pictures OUTPUT_FOLDER\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    bool ok =
        Save(PianoWood(), folder, "piano-wood.png") && Save(GuitarTop(), folder, "guitar-top.png");
    for (const KeyboardIcon& icon : kIcons) {
        ok = ok && Save(Keyboard(icon), folder, QString("icon-%1.png").arg(icon.size));
    }
    return ok ? 0 : 1;
}
