// The main dialog: the instrument's only window. It holds the user's settings
// (tone frequency and level, Memory, AFC, DC-offset removal), the spectrum
// engine, the stored frequency-response trace, the drawing pens and the
// icon; it receives each handed-off block from the capture thread and
// releases the thread for the next one, and says so when blocks stop coming.
#pragma once

#include "audio/AudioPathCheck.h"
#include "audio/InputWatch.h"
#include "dsp/FFT.h"
#include "measure/FrequencySweep.h"
#include "measure/ResultCsv.h"
#include "platform/AudioDevices.h"
#include "platform/qt/MainWindowPort.h"
#include "plot/LevelTrace.h"
#include "plot/PlotGeometry.h"
#include "plot/Trace.h"
#include "ui/DialogControls.h"
#include "ui/FastResponse.h"

#include <QDialog>
#include <QIcon>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

class CDataExchange;
class QAction;
class PlotView;
class QMenu;
class QScrollBar;
class QTimer;

// Scroll-bar notification codes (WM_HSCROLL).
constexpr UINT SB_LINELEFT = 0;
constexpr UINT SB_LINERIGHT = 1;
constexpr UINT SB_PAGELEFT = 2;
constexpr UINT SB_PAGERIGHT = 3;
constexpr UINT SB_THUMBPOSITION = 4;
constexpr UINT SB_THUMBTRACK = 5;
constexpr UINT SB_LEFT = 6;
constexpr UINT SB_RIGHT = 7;
constexpr UINT SB_ENDSCROLL = 8;

// System command that closes a window.
constexpr UINT SC_CLOSE = 0xF060;

// One sweep step's result: the measured frequency (Hz) and level (dB).
struct SweepPoint {
    double f;
    double p;
};

class CMainDlg : public QDialog, public WindowMessageTarget {
  public:
    explicit CMainDlg(QWidget* parent = nullptr);
    // Waits for a device switch still under way.
    ~CMainDlg() override;

    // Runs the dialog modally until Esc, the close box or reject().
    int DoModal();

    void OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    // Called with each displayed block (SampleBlock holds it) and the number of
    // blocks dropped before it. For tests and measurements.
    using BlockObserver = std::function<void(WPARAM droppedBlocks)>;
    static void SetBlockObserver(BlockObserver observer);

    // Called with each sweep point as it is stored.
    using SweepObserver = std::function<void(const ResponsePoint& point)>;
    static void SetSweepObserver(SweepObserver observer);

    // The control with that id, null when there is none.
    QWidget* GetDlgItem(int id) const { return m_controls.item(id); }
    // TRUE: controls to members; FALSE: members to controls. Returns FALSE when
    // a field's text was not a number.
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    // Asks the user for a file to save to (forSaving) or to read, offering
    // `suggested`; empty when the user cancels. Tests put their own.
    using FileChooser = std::function<QString(const QString& title, const QString& suggested,
                                              const QString& filter, bool forSaving)>;
    static void SetFileChooser(FileChooser chooser);

    // Asks the user for the devices to use, starting from `current`; nothing
    // when the user cancels. Tests put their own.
    using SoundCardChooser = std::function<std::optional<platform::DeviceChoice>(
        QWidget* parent, const platform::DeviceChoice& current)>;
    static void SetSoundCardChooser(SoundCardChooser chooser);

    // What the sweep has seen: its counters and the points measured.
    const FrequencySweep& Sweep() const { return m_sweep; }
    // The fast response, running or measured.
    const FastResponse& Fast() const { return m_fastResponse; }

    // The two views, drawn by the display cycle.
    PlotView* SpectrumView() const;
    PlotView* ScopeView() const;

    // The drawing routines with the dialog's pens and settings.
    void DrawSpectrumGrid(CDC* pDC, const CRect& rect);
    void DrawSpectrumCurve(CDC* pDC, const CRect& rect);
    void DrawScopeGrid(CDC* pDC, const CRect& rect);
    void DrawScopeTrace(CDC* pDC, const CRect& rect, int droppedBlocks);

    // The spectrum view's menu, ticked for the window in use; choosing an
    // item runs its command. OnContextMenu pops it up.
    std::unique_ptr<QMenu> CreateSpectrumMenu();
    // The menu on the dialog's icon (and F1): "Sound card..." (the system
    // card only) and, last, the about item.
    QMenu* GetSystemMenu() const { return m_systemMenu; }

    // Handlers, in the order of the dialog's message map.
    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaint();
    void OnSpectrumRectangle();
    void OnSpectrumQuasiChebishev();
    // point in screen coordinates; (-1, -1) when asked for from the keyboard.
    void OnContextMenu(const QPoint& point);
    void OnLevel0dB();
    void OnLevelMinus20dB();
    void OnLevelOff();
    void OnOptionClicked();
    void OnAFC();
    void OnHScroll(UINT nSBCode, UINT nPos, QScrollBar* pScrollBar);
    // The spectrum view's file commands. A file is written whole under a
    // temporary name and renamed into place; a failure is shown in a box.
    void OnSaveResponse();
    void OnSaveSpectrum();
    void OnSavePicture();
    void OnCompareResponse();
    void OnClearComparison();
    // "Fast response": the swept sine through the running audio threads, its
    // gain drawn where the AFC sweep's trace would lie. Meanwhile the AFC
    // button and the item are disabled. "Save fast response as CSV...":
    // the last one, in the command line's response format.
    void OnFastResponse();
    void OnSaveFastResponse();
    // Enter: applies the typed frequency to the generator.
    void OnOK();
    // "Sound card...": a running sweep stops, and both streams move to the
    // devices the user chose, which are remembered for the next run.
    void OnSoundCard();
    // A few times a second: tells when the input has stopped handing over
    // blocks, and keeps the gap counts and the audio path on the power
    // reading's tooltip.
    void OnInputTimer();

    // The sweep's steps, run by the display cycle while m_AFC is set.
    // 1 when the block shows no noise lines around the generator's tone.
    int NoiseCheck();
    // 1 when a point was measured into *out (its level corrected for the
    // window's gain at the tone's offset from the bin); else 0, out untouched.
    int SweepStep(SweepPoint* out);

    // Dialog data, in declaration order.
    double m_Frequency;
    int m_Memory = 0;
    int m_AFC = 0;
    int m_Level = 0;
    int m_RemoveDC = 1;
    CAFC m_Trace;
    CFFT m_FFT;
    CPen m_PenCurve;
    CPen m_PenVMark;
    CPen m_PenHMark;
    CPen m_PenVGrid;
    CPen m_PenHGrid;
    COLORREF m_ScopeColor = RGB(0, 0, 0);
    QIcon m_hIcon;

  protected:
    void DoDataExchange(CDataExchange* pDX);
    BOOL OnInitDialog();

    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // lParam 1: the block holds a gap.
    void OnBlockReady(WPARAM droppedBlocks, LPARAM lParam);
    bool InputResumed();
    void RemoveDcOffset(int blockLength);
    void ShowScope(WPARAM droppedBlocks, bool hasGap);
    void ShowPower(int blockLength);
    void SetPowerText(const char* text);
    void ShowSpectrum();
    void AdvanceSweep(WPARAM droppedBlocks, bool hasGap);
    void EndFastResponse(FastResponse::Progress progress);
    void ShowNoInput();
    void ClearViews();
    void ShowGapCounts();
    void CheckAudioPath();
    void SwitchDevices();
    void EnableSettings(bool enable);
    void OnCommand(int id);
    void SetWindowText(const char* text);
    void PostLevel(WPARAM level);
    void ConnectControls();
    void AppendAboutItem();
    PlotPens Pens();
    RunInfo DescribeRun(const char* measurement) const;
    QString ChooseFile(const char* title, const char* suggested, const char* filter,
                       bool forSaving);
    void WriteResultFile(const QString& path, std::string_view contents);

    DialogControls m_controls;
    QMenu* m_systemMenu;
    FrequencySweep m_sweep;
    // The running or last sweep, as its response file describes it.
    RunInfo m_sweepRun;
    LevelTrace m_comparison{ComparisonColor};
    FastResponse m_fastResponse;
    LevelTrace m_fastTrace{FastResponseColor};
    // Spectrum holds a displayed block's spectrum.
    bool m_spectrumShown = false;
    // The power read-out's text as last set.
    char m_powerText[100] = {};

    QAction* m_soundCardItem;
    QTimer* m_inputTimer;
    InputWatch m_inputWatch;
    // Inside the display cycle: the capture thread holds back, so no block
    // comes however long it takes (a message box included).
    bool m_showingBlock = false;
    // Blocks the scope's phase passed over undrawn since it last drew.
    WPARAM m_scopeSkippedBlocks = 0;
    struct GapCounts {
        std::uint64_t input, output, reopens;
        bool operator==(const GapCounts&) const = default;
    };
    std::optional<GapCounts> m_gapCounts; // as the tooltip shows them
    // What the sound server does to our streams: asked once blocks come,
    // and again after the streams moved to other devices.
    audio::AudioPathCheck m_audioPath;
    std::string m_audioPathLine; // as the tooltip and standard error have it
    // Reopens the streams on the chosen devices, off the user-interface
    // thread; it touches no widget.
    std::thread m_deviceSwitch;
};
