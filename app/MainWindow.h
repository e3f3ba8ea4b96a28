#pragma once
// Form1, the tuner's only window. It wires the controls of the layout to the
// core: notes (ChooseKey, ChooseString), the reference tone (ReferenceTone
// over a MidiOutput), the measurement (MeasuringCycle over the blocks of a
// CaptureDevice) and the tuning display (LiveTuner over the same blocks). It
// computes nothing itself. UI thread only.

#include <QWidget>
#include <cstdint>
#include <string>

#include "app/Accessibility.h"
#include "app/Layout.h"
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
    // The backends must outlive the window. settingsPath is the octave file.
    MainWindow(MidiOutput& midi, CaptureDevice& capture, std::string settingsPath,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    // Start-up, once, before the window is first shown: loads the octave,
    // opens the MIDI output, starts capture (a box says why when it cannot)
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

    // What SIGTERM and SIGINT do: a close request that saves the octave even
    // when help or a message box is open.
    void CloseNow();

    const Controls& Widgets() const { return c_; }
    const MeasuringCycle& Cycle() const { return cycle_; }

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
    void CoverWithHelp(bool covered);
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
    bool liveFinalSaid_ = false;
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
