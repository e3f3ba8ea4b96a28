#!/usr/bin/env python3
"""Draws docs/block-path.svg: the way of one captured block from the sound
server to the window's displays, across the one hand-over between threads;
then its two ways on the UI thread: the measuring cycle (the mean and the fine
reading) and the tuning display's live reading, whose final readings go into
the piano's record and curve.

Plain Python, no third-party module. Run from anywhere:
    scripts/draw-block-path.py [OUTPUT.svg]
"""

import os
import sys
from xml.sax.saxutils import escape

WIDTH = 1180
LINE = 15  # pixels between text lines
FONT = "DejaVu Sans, Arial, sans-serif"

# Horizontal bands: who runs the code drawn inside them.
BANDS = [
    # (top, bottom, title, title's baseline, fill); the UI thread's title sits
    # below the ring, which straddles the line between the threads.
    (10, 110, "sound server (another process)", 26, "#eef3fb"),
    (110, 282, "capture thread (libpulse's threaded mainloop)", 126, "#fbf3e6"),
    (282, 850, "UI thread (Qt's event loop)", 350, "#eef8ee"),
]

# Boxes: name -> (x, y, width, height, lines, style). The first line is bold.
BOXES = {
    "server": (190, 34, 400, 64, [
        "source: the microphone, or the source chosen",
        "PulseAudio, or PipeWire's pipewire-pulse",
        "u8 mono, 32768 Hz, fragments of at most 4096 samples",
    ], "plain"),
    "read": (190, 142, 400, 80, [
        "PulseCapture::OnRead",
        "pa_stream_peek each fragment; Push its samples;",
        "a hole, a resume or a move: MarkGap",
        "(never allocates, locks or waits)",
    ], "plain"),
    "ring": (150, 234, 480, 96, [
        "BlockRing: the one hand-over between threads",
        "8 slots of one block (4096 samples, 125 ms), each with a sequence number;",
        "the writer never waits and overwrites the oldest unread slot;",
        "each completed block bumps an eventfd; a gap drops the block being filled",
    ], "ring"),
    "notifier": (190, 356, 400, 80, [
        "MainWindow::OnBlocksReady",
        "a QSocketNotifier on the eventfd; ClearWakeUp, then",
        "Pop every waiting block, oldest first; Dropped() grew:",
        "BlockLost and LiveTuner::Gap. No note chosen: skipped",
    ], "plain"),
    "tick": (190, 466, 400, 64, [
        "MeasuringCycle::Tick",
        "one analysis per block, beside the fine measurement;",
        "nothing to measure (Inert): skipped",
    ], "plain"),
    "cli": (610, 458, 170, 80, [
        "harmolune-measure",
        "a file's blocks, or",
        "--record's own ring;",
        "--live: the live reading",
    ], "side"),
    "live": (800, 450, 370, 96, [
        "LiveTuner::Push (measure/LiveTuner.*)",
        "every block of the chosen note, measurement or not;",
        "StrikeDetector: a strike starts a reading and a",
        "FineEstimator of its own; a window since the strike,",
        "doubling to the note's length; final when it ends",
    ], "plain"),
    "keeper": (990, 576, 180, 96, [
        "PianoKeeper::Keep",
        "a piano key's final",
        "reading into piano.json,",
        "saved whole; ComputeCurve;",
        "the curve's pane again",
    ], "plain"),
    "display": (800, 702, 370, 64, [
        "the tuning display (TuningDisplay::Show)",
        "\u201c+3,4 c \u00b1 0,4\u201d, the needle, en cours / stable / finale;",
        "a piano key against its target on the curve",
    ], "display"),
    "mean": (20, 566, 360, 96, [
        "the mean (Label1)",
        "Transform: 4096-point FFT; FindPeak between",
        "0.9 and 1.1 times the reference; the estimate from",
        "the peak's two neighbours; levels 32 to 90 count;",
        "the mean once the level falls below 32",
    ], "plain"),
    "fine": (400, 566, 360, 96, [
        "the fine reading (measure/FineEstimator.*)",
        "from the block that starts the count: Hann windows",
        "of 1 to 32 blocks with FFTW, the peak refined by a",
        "parabola and Newton steps; partials and B for a",
        "piano key; followed until the note dies",
    ], "plain"),
    "label1": (20, 692, 360, 48, [
        "Label1 shows \u201c...Hz\u201d, then \u201c2093.30 Hz\u201d",
        "(ShowMeasurement)",
    ], "display"),
    "tooltip": (400, 692, 360, 48, [
        "Label1's tooltip and accessible description",
        "\u201cMesure fine : ... (provisoire)\u201d, then final",
    ], "display"),
    "announcer": (190, 770, 400, 64, [
        "Announcer: a notification Orca speaks",
        "the result as shown; the fine reading once final;",
        "the live reading once final (no measurement); L",
    ], "display"),
}

STYLES = {
    "plain": ("#ffffff", "#404040", ""),
    "ring": ("#fff6c8", "#a07800", ""),
    "display": ("#e8f0ff", "#3050a0", ""),
    "side": ("#ffffff", "#808080", "stroke-dasharray:5,3;"),
}

# Arrows: (from box, side, to box, side, label).
ARROWS = [
    ("server", "bottom", "read", "top", "fragment"),
    ("read", "bottom", "ring", "top", ""),
    ("ring", "bottom", "notifier", "top", "wake-up"),
    ("notifier", "bottom", "tick", "top", "block"),
    ("cli", "left", "tick", "right", ""),
    ("tick", "bottom-left", "mean", "top", ""),
    ("tick", "bottom-right", "fine", "top", ""),
    ("mean", "bottom", "label1", "top", ""),
    ("fine", "bottom", "tooltip", "top", ""),
    ("label1", "bottom", "announcer", "top-left", ""),
    ("tooltip", "bottom", "announcer", "top-right", ""),
    ("notifier", "right", "live", "top", "block"),
    ("cli", "right", "live", "left", ""),
    ("live", "bottom-left", "display", "top-left", "reading"),
    ("live", "bottom-right", "keeper", "top", "final"),
    ("keeper", "bottom", "display", "top-right", "target"),
    ("display", "bottom", "announcer", "right", ""),
]


def anchor(name, side):
    x, y, w, h = BOXES[name][:4]
    return {
        "top": (x + w / 2, y),
        "bottom": (x + w / 2, y + h),
        "left": (x, y + h / 2),
        "right": (x + w, y + h / 2),
        "bottom-left": (x + w / 4, y + h),
        "bottom-right": (x + 3 * w / 4, y + h),
        "top-left": (x + w / 4, y),
        "top-right": (x + 3 * w / 4, y),
    }[side]


def text(x, y, s, size=12, weight="normal", anchor_at="middle", fill="#000000"):
    return (f'<text x="{x:.1f}" y="{y:.1f}" font-size="{size}" font-weight="{weight}" '
            f'text-anchor="{anchor_at}" fill="{fill}">{escape(s)}</text>')


def draw():
    height = BANDS[-1][1] + 10
    out = [
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{WIDTH}" height="{height}" '
        f'viewBox="0 0 {WIDTH} {height}" font-family="{FONT}">',
        '<defs><marker id="head" markerWidth="10" markerHeight="8" refX="9" refY="4" '
        'orient="auto"><path d="M0,0 L10,4 L0,8 z" fill="#404040"/></marker></defs>',
        f'<rect x="0" y="0" width="{WIDTH}" height="{height}" fill="#ffffff"/>',
    ]
    for top, bottom, title, baseline, fill in BANDS:
        out.append(f'<rect x="5" y="{top}" width="{WIDTH - 10}" height="{bottom - top}" '
                   f'fill="{fill}" stroke="#c0c0c0"/>')
        out.append(text(12, baseline, title, 12, "bold", "start", "#505050"))
    for name, (x, y, w, h, lines, style) in BOXES.items():
        fill, stroke, extra = STYLES[style]
        out.append(f'<rect x="{x}" y="{y}" width="{w}" height="{h}" rx="6" fill="{fill}" '
                   f'stroke="{stroke}" style="stroke-width:1.5;{extra}"/>')
        first = y + (h - LINE * len(lines)) / 2 + 11
        for i, line in enumerate(lines):
            out.append(text(x + w / 2, first + i * LINE, line, 12 if i == 0 else 11,
                            "bold" if i == 0 else "normal"))
    for source, source_side, target, target_side, label in ARROWS:
        x1, y1 = anchor(source, source_side)
        x2, y2 = anchor(target, target_side)
        path = f"M{x1:.1f},{y1:.1f} L{x2:.1f},{y2:.1f}"
        out.append(f'<path d="{path}" fill="none" stroke="#404040" stroke-width="1.5" '
                   'marker-end="url(#head)"/>')
        if label:
            out.append(text((x1 + x2) / 2 + 8, (y1 + y2) / 2 + 4, label, 11, "normal",
                            "start", "#404040"))
    out.append("</svg>")
    return "\n".join(out) + "\n"


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "docs",
                                                                "block-path.svg")
    with open(target, "w", encoding="utf-8") as f:
        f.write(draw())
    print(os.path.normpath(target))


if __name__ == "__main__":
    main()
