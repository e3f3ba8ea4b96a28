// Draws the window's pictures at build time: the two wood backgrounds of the
// piano and guitar panels and the piano-keyboard icon. They are procedural
// (value noise), so the project carries no binary images.
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

// Seven white keys with the five black keys of an octave over them, on a
// transparent background, 32 x 32.
QImage Keyboard32() {
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    const int left = 2, top = 5, pitch = 4, height = 22;
    p.setPen(QColor(0, 0, 0));
    p.setBrush(QColor(255, 255, 255));
    for (int k = 0; k < 7; ++k) {
        p.drawRect(left + k * pitch, top, pitch, height - 1);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0));
    for (int after : {0, 1, 3, 4, 5}) {  // C#, D#, F#, G#, A#
        const int boundary = left + (after + 1) * pitch;
        p.drawRect(boundary - 1, top, 3, 13);
    }
    return image;
}

bool Save(const QImage& image, const QString& folder, const char* name) {
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
    const QImage icon = Keyboard32();
    const QImage small = icon.scaled(16, 16, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const bool ok = Save(PianoWood(), folder, "piano-wood.png") &&
                    Save(GuitarTop(), folder, "guitar-top.png") &&
                    Save(icon, folder, "icon-32.png") && Save(small, folder, "icon-16.png");
    return ok ? 0 : 1;
}
