#!/usr/bin/python3
"""Checks what Orca said during one run of inside.sh, step by step.

    check_spoken.py WORKDIR

Reads WORKDIR/steps.txt ("SECONDS NAME" per step), WORKDIR/orca-spoken.txt
("SECONDS SPEECH OUTPUT: 'text'" per utterance) and WORKDIR/displays.txt
(the displays' accessible names at the end). Prints the transcript, what a
blind person heard, then every failed expectation; exits 1 if there is any.

Expected, in the steps of the run:
- start: the first key is named, without a key being pressed;
- play (Space on La at octave 4): the note, its octave and its reference,
  said once without asking;
- arm (Space on "Échantillonner l'instrument"): that it listens, once;
- measure (Space on La, the window hearing its own tone): the note again,
  then the measured frequency as the display shows it, then the final fine
  reading, in that order, each once;
- read (L, with the focus on La): the tuning display's reading, as its
  accessible name has it, said once;
- octave (Right on the octave selector, reached with Tab): the new octave;
  the selector is said as "Octave 4" when reached, never as a scroll bar or
  a percentage;
- Tab on to the tuning display: it is said as its reading; the piano's
  record gives La 4 a target, which the reading says ("cible de La 4");
- Tab on again: the curve's style is said by its name;
- no notification in any other step, nothing said twice within a step, and
  no English anywhere.
"""

import os
import re
import sys

UTTERANCE = re.compile(r"^(\d+\.\d+) SPEECH OUTPUT: '(.*)'(?: \{.*\})?$")
NOTIFICATION = re.compile(r"^notification (.*?)\.?$")
# Words Orca says in English when its locale or a text of ours is English:
# role names, states, key names. None is a French word.
ENGLISH = re.compile(
    r"\b(button|push|frame|panel|scroll|bar|percent|label|window|dialog|alert|screen|reader|"
    r"enabled|disabled|off|tab|space|shift|left|right|enter|focused|selected|unavailable|"
    r"measuring|measurement|reference|frequency|played|listening)\b",
    re.IGNORECASE)
REFERENCE_LA4 = "La 4, 440,00 Hz"
LISTENING = "Mesure en cours"
MEASURED = re.compile(r"^(\d+),(\d\d) Hz$")


def read_steps(folder):
    steps = []
    with open(os.path.join(folder, "steps.txt"), encoding="utf-8") as f:
        for line in f:
            time, name = line.rstrip("\n").split(" ", 1)
            steps.append((float(time), name))
    return steps


def read_utterances(folder):
    said = []
    with open(os.path.join(folder, "orca-spoken.txt"), encoding="utf-8") as f:
        for line in f:
            match = UTTERANCE.match(line.rstrip("\n"))
            if match:
                said.append((float(match.group(1)), match.group(2)))
    return said


def by_step(steps, said):
    """[(step name, [utterances])], each utterance under the last step
    begun before it."""
    grouped = [(name, []) for _, name in steps]
    for time, text in said:
        index = None
        for i, (start, _) in enumerate(steps):
            if start <= time:
                index = i
        if index is not None:
            grouped[index][1].append(text)
    return grouped


def notifications(texts):
    found = []
    for text in texts:
        match = NOTIFICATION.match(text)
        if match:
            found.append(match.group(1))
    return found


def check(grouped, displays):
    problems = []
    named = dict(grouped)
    for name in ("start", "play", "arm", "measure", "read", "octave", "end"):
        if name not in named:
            problems.append(f"the run has no step {name!r}: it stopped early")
    if problems:
        return problems

    if not any(t.startswith("Do bouton") for t in named["start"]):
        problems.append(f"at start the first key is not named: {named['start']}")

    if notifications(named["play"]) != [REFERENCE_LA4]:
        problems.append(f"after La was played: {notifications(named['play'])}, "
                        f"expected [{REFERENCE_LA4!r}]")
    if notifications(named["arm"]) != [LISTENING]:
        problems.append(f"after arming: {notifications(named['arm'])}, expected [{LISTENING!r}]")

    measured = notifications(named["measure"])
    if len(measured) != 3:
        problems.append(f"while measuring, 3 announcements expected: {measured}")
    else:
        note, result, fine = measured
        if note != REFERENCE_LA4:
            problems.append(f"La played again: {note!r}, expected {REFERENCE_LA4!r}")
        match = MEASURED.match(result)
        if not match:
            problems.append(f"the measured frequency is said as {result!r}")
        else:
            hertz = int(match.group(1)) + int(match.group(2)) / 100
            # TimGM6mb's La 4 is in tune: within a few hertz of 440.
            if abs(hertz - 440.0) > 5.0:
                problems.append(f"the measured frequency {result!r} is not near 440 Hz")
            if "Fréquence instrument : " + result not in displays:
                problems.append(f"said {result!r}, but the display shows {displays}")
        if not fine.startswith("Mesure fine : ") or "par rapport à La 4" not in fine:
            problems.append(f"the fine reading is said as {fine!r}")

    # The tuning display is the label named by its reading. Orca may say its
    # signs in words: the words before them are compared.
    readings = [d for d in displays if d.startswith(("Mesure fine", "Aucune mesure fine"))]
    read = notifications(named["read"])
    if len(readings) != 1:
        problems.append(f"the tuning display is not among the labels: {displays}")
    elif len(read) != 1 or not read[0].startswith(readings[0].split(" : ")[0]) \
            or ("par rapport à" in readings[0]) != ("par rapport à" in read[0]):
        problems.append(f"after L: {read}, expected the display's {readings[0]!r}")

    if len(read) == 1 and "cible de La 4" not in read[0]:
        problems.append(f"after L, the reading does not say La 4's target: {read[0]!r}")

    everything = [text for _, texts in grouped for text in texts]
    if not any("Style de la courbe" in t for t in everything):
        problems.append("the curve's style was never said as 'Style de la courbe'")
    if readings and not any(t.startswith(readings[0].split(" : ")[0]) for _, texts in grouped
                            for t in texts if not NOTIFICATION.match(t)):
        problems.append(f"the tuning display was never said as {readings[0]!r} when reached")
    if not any(t.startswith("Octave 4") for t in everything):
        problems.append("the octave selector was never said as 'Octave 4'")
    if "5" not in named["octave"]:
        problems.append(f"after Right on the octave selector: {named['octave']}, expected '5'")
    for text in everything:
        if "pour cent" in text or "barre de défilement" in text:
            problems.append(f"the octave is read as a scroll bar: {text!r}")

    for name, texts in grouped:
        if name not in ("play", "arm", "measure", "read") and notifications(texts):
            problems.append(f"announced during {name!r}: {notifications(texts)}")
        seen = set()
        for text in texts:
            if text in seen:
                problems.append(f"said twice during {name!r}: {text!r}")
            seen.add(text)
        for text in texts:
            english = ENGLISH.search(text)
            if english:
                problems.append(f"English ({english.group(0)!r}) during {name!r}: {text!r}")
    return problems


def main():
    folder = sys.argv[1]
    grouped = by_step(read_steps(folder), read_utterances(folder))
    try:
        with open(os.path.join(folder, "displays.txt"), encoding="utf-8") as f:
            displays = [line.rstrip("\n") for line in f]
    except OSError:
        displays = []
    print("What Orca said, step by step:")
    for name, texts in grouped:
        print(f"  [{name}] " + " | ".join(texts))
    problems = check(grouped, displays)
    for problem in problems:
        print("FAIL: " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
