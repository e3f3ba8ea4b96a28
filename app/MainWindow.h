#pragma once
// Form1, the tuner's only window. It wires the controls of the layout to the
// core: notes (ChooseKey, ChooseString), the reference tone (ReferenceTone
// over a MidiOutput), the measurement (MeasuringCycle over the blocks of a
// CaptureDevice) and the tuning display (LiveTuner over the same blocks). It
// computes nothing itself. The piano being tuned, its record and its curve,
// are a PianoKeeper's: each final reading of a piano key goes into it, and
// the tuning display counts from the key's target once there is a curve.
// UI thread only.

#include <QWidget>
#include <cstdint>
#include <optional>
#include <string>

#include "app/Accessibility.h"
#include "app/Layout.h"
#include "app/PaneCover.h"
#include "app/PianoKeeper.h"
#include "app/TuningDisplay.h"
#include "core/Block.h"
#include "measure/LiveTuner.h"
#include "measure/MeasuringCycle.h"
#include "sound/BlockRing.h"
#include "sound/ReferenceTone.h"

class QSocketNotifier;

namespace harmolune {

class CaptureDevice;
class MidiOutput;
struct NoteChoice;

class MainWindow : public QWidget {
    Q_OBJECT
  public:
    // The backends must outlive the window. settingsPath is the octave file;
    // pianoPath the piano's record, by default the one of $XDG_DATA_HOME
    // (tuning::DefaultPianoRecordPath).
    MainWindow(MidiOutput& midi, CaptureDevice& capture, std::string settingsPath,
               std::string pianoPath = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Start-up, once, before the window is first shown: loads the octave and
    // the piano's record (what went wrong with it on stderr), opens the MIDI
    // output, starts capture (a box says why when it cannot)
    // and block delivery, and centres the window on its screen. Returns false
    // when the window was closed meanwhile (a signal while the box was up):
    // then there is nothing to show.
    bool StartUp();

    // Help pane. Open grows the window to 800 x 400 outer pixels and puts the
    // focus in the pane; close (also Escape) gives the window back its
    // laid-out size and the focus to "Aide...".
    void OpenHelp();
    void CloseHelp();
    bool HelpOpen() const;

    // The curve's pane, over the window as help is: open grows the window to
    // 960 x 600 outer pixels and puts the focus in its table, at the piano
    // key chosen if there is one; close (also
    // Escape and "Fermer") gives the window back its laid-out size and the
    // focus to "Courbe...".
    void OpenCurve();
    void CloseCurve();
    bool CurveOpen() const;

    // What SIGTERM and SIGINT do: a close request that saves the octave even
    // when help or a message box is open.
    void CloseNow();

    const Controls& Widgets() const { return c_; }
    const MeasuringCycle& Cycle() const { return cycle_; }
    const PianoKeeper& Piano() const { return piano_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void OnKey(int key);
    void OnString(int string);
    void Show(const NoteChoice& choice);
    void OnOctaveChanged(int octave);
    void OnSample();
    void OnBlocksReady();
    void ShowMeasurement();
    void ShowTuning();
    void OnStyleChosen(int index);
    void OnNewPiano();
    void ShowCurve();
    std::optional<CurveTarget> TargetOfChosenNote() const;
    void SayIfFailed(const std::string& line);
    void ShutDown();

    CaptureDevice& capture_;
    const std::string settingsPath_;
    const std::string decimalSeparator_;  // the user's, e.g. "," under French settings

    Controls c_;
    accessibility::Announcer announcer_;
    ReferenceTone tone_;
    MeasuringCycle cycle_;
    LiveTuner live_;        // the tuning display's reading, from every block
    QString liveNoteName_;  // the note it follows, e.g. "Mi 2"
    int liveNote_ = -1;     // its MIDI key number; -1 before any
    bool livePiano_ = false;
    bool liveFinal_ = false;
    PianoKeeper piano_;
    PaneCover cover_;  // help or the curve over the window
    BlockRing ring_;
    Block samples_{};               // the block being analysed
    std::string referenceText_;     // what Label4 shows, kept to avoid a copy per block
    std::string shownMeasurement_;  // what Label1 shows
    std::string shownFine_;         // its tooltip: the fine measurement
    bool shownFineFinal_ = false;
    std::string armedNoteName_;     // the note measured, e.g. "Mi 2"
    std::uint64_t lostBlocks_ = 0;  // blocks the ring lost, as far as told to the cycle
    QSocketNotifier* blockNotifier_ = nullptr;
    bool capturing_ = false;
    bool shutDown_ = false;
};

}  // namespace harmolune
