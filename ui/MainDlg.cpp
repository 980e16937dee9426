#include "ui/MainDlg.h"

#include "audio/Audio.h"
#include "measure/BlockAnalysis.h"
#include "measure/NumberFormat.h"
#include "measure/SweepPlan.h"
#include "platform/AtomicFile.h"
#include "platform/AudioBackend.h"
#include "platform/MessageBox.h"
#include "platform/SoundCard.h"
#include "res/DialogTemplate.h"
#include "res/MenuTemplate.h"
#include "res/Resource.h"
#include "res/StringTable.h"
#include "res/Version.h"
#include "ui/AboutDlg.h"
#include "ui/DataExchange.h"
#include "ui/Icons.h"
#include "ui/PlotView.h"
#include "ui/SoundCardDlg.h"
#include "ui/SoundCardSettings.h"

#include <QAbstractButton>
#include <QBuffer>
#include <QContextMenuEvent>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPaintEvent>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>

namespace {

CMainDlg::BlockObserver blockObserver;
CMainDlg::SweepObserver sweepObserver;
CMainDlg::FileChooser fileChooser;
CMainDlg::SoundCardChooser soundCardChooser;

constexpr const char* QuasiChebishevCaption = "Sound card Tembrix®, used quasi-Chebishev window.";
constexpr const char* RectangleCaption = "Sound card Tembrix®, used rectangle window.";

// Level commands to the playback thread: the tone's amplitude in 1/65536.
constexpr WPARAM Level0dB = 65536;
constexpr WPARAM LevelMinus20dB = 6554;
constexpr WPARAM LevelOff = 0;

// The oscilloscope offset in percent of the view width.
constexpr int OffsetMax = 100;
constexpr int OffsetLineStep = 1;
constexpr int OffsetPageStep = 5;

struct CommandEntry {
    int id;
    void (CMainDlg::*handler)();
};

// The buttons' clicks, in the order of the message map.
const CommandEntry ClickMap[] = {
    {IDC_LEVEL_0DB, &CMainDlg::OnLevel0dB},
    {IDC_LEVEL_20DB, &CMainDlg::OnLevelMinus20dB},
    {IDC_LEVEL_OFF, &CMainDlg::OnLevelOff},
    {IDC_MEMORY, &CMainDlg::OnOptionClicked},
    {IDC_AFC, &CMainDlg::OnAFC},
    {IDC_REMOVE_DC, &CMainDlg::OnOptionClicked},
};

// The menu commands.
const CommandEntry CommandMap[] = {
    {ID_SPECTRUM_RECTANGLE, &CMainDlg::OnSpectrumRectangle},
    {ID_SPECTRUM_QUASICHEBISHEV, &CMainDlg::OnSpectrumQuasiChebishev},
    {ID_SAVE_RESPONSE, &CMainDlg::OnSaveResponse},
    {ID_SAVE_SPECTRUM, &CMainDlg::OnSaveSpectrum},
    {ID_SAVE_PICTURE, &CMainDlg::OnSavePicture},
    {ID_COMPARE_RESPONSE, &CMainDlg::OnCompareResponse},
    {ID_CLEAR_COMPARISON, &CMainDlg::OnClearComparison},
    {ID_FAST_RESPONSE, &CMainDlg::OnFastResponse},
    {ID_SAVE_FAST_RESPONSE, &CMainDlg::OnSaveFastResponse},
};

constexpr const char* CsvFilter = "CSV files (*.csv)";
constexpr const char* PngFilter = "PNG pictures (*.png)";
constexpr const char* FileErrorTitle = "File error.";
// Far more than any response file; a larger file is not one.
constexpr qint64 LargestResponseFile = 1 << 20;

constexpr const char* NoInputText = "No input";
// Often enough that a stop shows well within a second of its limit.
constexpr int InputTimerMs = 250;

HWAVEIN InputHandle() {
    return InDevice() ? *InDevice() : nullptr;
}

HWAVEOUT OutputHandle() {
    return OutDevice() ? *OutDevice() : nullptr;
}

void PrintLine(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
}

// b counted from 1 until 2^b is the block length. A length that is no such
// power within the engine's reach gives 0, an order the engine never
// transforms, rather than a count that never ends.
int FftOrder(int blockLength) {
    for (int b = 1; b <= CFFT::MaxOrder; ++b) {
        if ((1 << b) == blockLength)
            return b;
    }
    return 0;
}

// The notification a scroll bar sends for what the user did to it.
UINT ScrollCode(int action) {
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
        return SB_LINELEFT;
    case QAbstractSlider::SliderSingleStepAdd:
        return SB_LINERIGHT;
    case QAbstractSlider::SliderPageStepSub:
        return SB_PAGELEFT;
    case QAbstractSlider::SliderPageStepAdd:
        return SB_PAGERIGHT;
    case QAbstractSlider::SliderToMinimum:
        return SB_LEFT;
    case QAbstractSlider::SliderToMaximum:
        return SB_RIGHT;
    case QAbstractSlider::SliderMove:
        return SB_THUMBTRACK;
    default:
        return SB_ENDSCROLL;
    }
}

QAction* FindMenuItem(QMenu& menu, int command) {
    for (QAction* action : menu.actions()) {
        if (action->data().toInt() == command)
            return action;
    }
    return nullptr;
}

void CheckMenuItem(QMenu& menu, int command, bool checked) {
    QAction* action = FindMenuItem(menu, command);
    action->setCheckable(true);
    action->setChecked(checked);
}

void EnableMenuItem(QMenu& menu, int command, bool enabled) {
    FindMenuItem(menu, command)->setEnabled(enabled);
}

QString AskForFile(const QString& title, const QString& suggested, const QString& filter,
                   bool forSaving) {
    return forSaving ? QFileDialog::getSaveFileName(nullptr, title, suggested, filter)
                     : QFileDialog::getOpenFileName(nullptr, title, suggested, filter);
}

void ShowFileError(const std::string& text) {
    MessageBoxA(nullptr, text.c_str(), FileErrorTitle, MB_ICONERROR);
}

// A saved response as the window draws it: a sweep's levels as measured, a
// swept sine's gains where a sweep's levels would lie.
std::vector<LevelPoint> ComparedLevels(const SavedResponse& saved, double toneDb) {
    if (saved.kind == SavedResponse::Kind::SweptSine)
        return ResponseLevels(saved.swept, toneDb);
    std::vector<LevelPoint> levels;
    for (const ResponsePoint& point : saved.stepped)
        levels.push_back({point.frequencyHz, point.levelDb});
    return levels;
}

// The controls that a running sweep disables, in this order.
const int SweepLockedControls[] = {IDC_FREQUENCY,  IDC_MEMORY,    IDC_LEVEL_0DB,
                                   IDC_LEVEL_20DB, IDC_LEVEL_OFF, IDC_REMOVE_DC};

} // namespace

CMainDlg::CMainDlg(QWidget* parent)
    : QDialog(parent, DialogFrameFlags), m_Frequency(SampleRate / GenPeriod.load()),
      m_hIcon(LoadIcon(IDR_MAINFRAME)), m_controls(*this, MainDialogTemplate),
      m_systemMenu(new QMenu(this)), m_sweep(FftSize), m_inputTimer(new QTimer(this)) {
    QAction* close = m_systemMenu->addAction(QStringLiteral("&Close"));
    connect(close, &QAction::triggered, this, [this] { OnSysCommand(SC_CLOSE, 0); });
    m_soundCardItem = m_systemMenu->addAction(QString::fromUtf8(LoadResourceString(IDS_SOUNDCARD)));
    // The virtual card has its one device; only the system card's are chosen.
    m_soundCardItem->setEnabled(platform::SelectedAudioBackend() == platform::AudioBackend::System);
    connect(m_soundCardItem, &QAction::triggered, this, [this] { OnSysCommand(IDM_SOUNDCARD, 0); });
    ConnectControls();
    // Created and initialised here, so the dialog can be driven before it runs.
    OnInitDialog();
    ShowGapCounts();
    connect(m_inputTimer, &QTimer::timeout, this, [this] { OnInputTimer(); });
    m_inputTimer->start(InputTimerMs);
    connect(this, &QDialog::finished, this, [this] { m_fastResponse.Cancel(); });
}

CMainDlg::~CMainDlg() {
    if (m_deviceSwitch.joinable())
        m_deviceSwitch.join();
}

int CMainDlg::DoModal() {
    return exec();
}

void CMainDlg::SetBlockObserver(BlockObserver observer) {
    blockObserver = std::move(observer);
}

void CMainDlg::OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_BLOCK_READY)
        OnBlockReady(wParam, lParam);
}

void CMainDlg::SetSweepObserver(SweepObserver observer) {
    sweepObserver = std::move(observer);
}

void CMainDlg::SetFileChooser(FileChooser chooser) {
    fileChooser = std::move(chooser);
}

void CMainDlg::SetSoundCardChooser(SoundCardChooser chooser) {
    soundCardChooser = std::move(chooser);
}

// One run per handed-off block; SampleBlock is the window's until
// DisplayReadyEvent is set, so the capture thread drops the blocks that arrive
// meanwhile (a message box shown here included).
void CMainDlg::OnBlockReady(WPARAM droppedBlocks, LPARAM lParam) {
    if (WaitForSingleObject(BlockReadyEvent, 0) != WAIT_OBJECT_0)
        return;
    // The audio lost while the input had stopped is a gap before this block.
    const bool hasGap = InputResumed() || lParam == 1;
    m_showingBlock = true;
    const int blockLength = 1 << m_FFT.Order();
    if (m_RemoveDC)
        RemoveDcOffset(blockLength);
    ShowScope(droppedBlocks, hasGap);
    ShowPower(blockLength);
    ShowSpectrum();
    if (m_AFC)
        AdvanceSweep(droppedBlocks, hasGap);
    if (m_fastResponse.Running())
        EndFastResponse(m_fastResponse.BlockShown());
    if (blockObserver)
        blockObserver(droppedBlocks);
    m_showingBlock = false;
    // The time without blocks counts from here: what came while this one was
    // shown was dropped by the capture thread, not lost by the input.
    m_inputWatch.BlockArrived();
    DisplayReadyEvent.SetEvent();
}

// True when the input had stopped: the line for standard error is written.
bool CMainDlg::InputResumed() {
    const std::optional<InputWatch::Clock::duration> gone = m_inputWatch.BlockArrived();
    if (!gone)
        return false;
    PrintLine(InputWatch::ResumedLine(*gone));
    return true;
}

// While a sweep runs the block carries its tone, which the plain mean would
// partly take away with the offset at the lowest sweep frequencies.
void CMainDlg::RemoveDcOffset(int blockLength) {
    double* block = SampleBlock();
    const double offset =
        m_AFC ? OffsetBesideTone(block, blockLength, m_Frequency) : BlockMean(block, blockLength);
    SubtractOffset(block, blockLength, offset);
}

// The phase cannot follow the tone across lost samples: a block with a gap is
// passed over like a dropped one, and the next is drawn in step with its end.
void CMainDlg::ShowScope(WPARAM droppedBlocks, bool hasGap) {
    if (hasGap) {
        m_scopeSkippedBlocks += droppedBlocks + 1;
        return;
    }
    droppedBlocks += m_scopeSkippedBlocks;
    m_scopeSkippedBlocks = 0;
    PlotView* scope = ScopeView();
    const CRect rect = scope->viewRect();
    if (!m_Memory) {
        scope->Erase();
        DrawScopeGrid(scope->dc(), rect);
    }
    DrawScopeTrace(scope->dc(), rect, static_cast<int>(droppedBlocks));
    DrawScopeGrid(scope->dc(), rect);
    scope->update();
}

void CMainDlg::ShowPower(int blockLength) {
    const std::string text = PowerText(MeanSquare(SampleBlock(), blockLength));
    SetPowerText(text.c_str());
}

// The label is set only when its text changes.
void CMainDlg::SetPowerText(const char* text) {
    if (std::strcmp(text, m_powerText) == 0)
        return;
    std::strncpy(m_powerText, text, sizeof m_powerText - 1);
    static_cast<QLabel*>(GetDlgItem(IDC_POWER))->setText(QString::fromLatin1(m_powerText));
}

void CMainDlg::ShowSpectrum() {
    PlotView* spectrum = SpectrumView();
    const CRect rect = spectrum->viewRect();
    if (!m_Memory) {
        spectrum->Erase();
        DrawSpectrumGrid(spectrum->dc(), rect);
    }
    m_Trace.Draw(spectrum->dc());
    m_comparison.Draw(spectrum->dc(), rect);
    m_FFT.Transform(SampleBlock(), Spectrum());
    m_spectrumShown = true;
    DrawSpectrumCurve(spectrum->dc(), rect);
    DrawSpectrumGrid(spectrum->dc(), rect);
    // Over the grid: a flat response lies on the 0 dB or -20 dB line.
    m_fastTrace.Draw(spectrum->dc(), rect);
    spectrum->update();
}

// A stored point shows from the next block on, with the trace.
void CMainDlg::AdvanceSweep(WPARAM droppedBlocks, bool hasGap) {
    m_sweep.BlockShown(droppedBlocks, hasGap);
    // The last frequency yields no point, so its blocks skip the noise test: a
    // device that cuts the top of the band off below its noise cannot hold
    // the sweep there for ever.
    if (!IsLastSweepFrequency(m_Frequency) && !NoiseCheck())
        return;
    SweepPoint point;
    if (!SweepStep(&point))
        return;
    const CRect rect = SpectrumView()->viewRect();
    m_Trace.AddPoint(FreqToX(point.f, rect.right), DbToY(point.p, rect.bottom));
}

BOOL CMainDlg::UpdateData(BOOL saveAndValidate) {
    CDataExchange exchange(m_controls, saveAndValidate);
    DoDataExchange(&exchange);
    return exchange.failed() ? FALSE : TRUE;
}

void CMainDlg::DoDataExchange(CDataExchange* pDX) {
    DDX_Text(pDX, IDC_FREQUENCY, m_Frequency);
    DDX_Check(pDX, IDC_MEMORY, m_Memory);
    DDX_Check(pDX, IDC_AFC, m_AFC);
    DDX_Radio(pDX, IDC_LEVEL_0DB, m_Level);
    DDX_Check(pDX, IDC_REMOVE_DC, m_RemoveDC);
}

BOOL CMainDlg::OnInitDialog() {
    UpdateData(FALSE);
    SetWindowText(QuasiChebishevCaption);
    AppendAboutItem();
    setWindowIcon(m_hIcon);

    m_PenHGrid.CreatePen(PS_SOLID, 1, RGB(128, 0, 0));
    m_PenVGrid.CreatePen(PS_SOLID, 1, RGB(196, 0, 0));
    m_PenHMark.CreatePen(PS_SOLID, 1, RGB(173, 21, 181));
    m_PenVMark.CreatePen(PS_SOLID, 1, RGB(228, 87, 236));
    m_ScopeColor = RGB(0, 255, 0);
    m_PenCurve.CreatePen(PS_SOLID, 1, RGB(0, 255, 0));

    auto* offset = static_cast<QScrollBar*>(GetDlgItem(IDC_OFFSET));
    offset->setRange(0, OffsetMax);
    offset->setSingleStep(OffsetLineStep);
    offset->setPageStep(OffsetPageStep);

    m_FFT.InitWindow(FftOrder(FftSize), CFFT::QuasiChebyshev);
    return TRUE;
}

void CMainDlg::ConnectControls() {
    for (const CommandEntry& entry : ClickMap) {
        auto* button = static_cast<QAbstractButton*>(GetDlgItem(entry.id));
        connect(button, &QAbstractButton::clicked, this,
                [this, handler = entry.handler] { (this->*handler)(); });
    }
    auto* offset = static_cast<QScrollBar*>(GetDlgItem(IDC_OFFSET));
    // Sent before the bar takes a position of its own: the handler sets it.
    connect(offset, &QAbstractSlider::actionTriggered, this, [this, offset](int action) {
        OnHScroll(ScrollCode(action), static_cast<UINT>(offset->sliderPosition()), offset);
    });
    m_controls.icon()->installEventFilter(this);
}

// The platform's window menu cannot be extended here: the dialog's icon and
// F1 offer the about box instead.
void CMainDlg::AppendAboutItem() {
    const QString about = QString::fromUtf8(LoadResourceString(IDS_ABOUTBOX));
    if (about.isEmpty())
        return;
    m_systemMenu->addSeparator();
    QAction* item = m_systemMenu->addAction(about);
    item->setShortcut(QKeySequence(Qt::Key_F1));
    connect(item, &QAction::triggered, this, [this] { OnSysCommand(IDM_ABOUTBOX, 0); });
    addAction(item);
}

void CMainDlg::OnSysCommand(UINT nID, LPARAM) {
    const UINT command = nID & 0xFFF0;
    if (command == IDM_ABOUTBOX) {
        CAboutDlg about(this);
        about.DoModal();
    } else if (command == IDM_SOUNDCARD) {
        OnSoundCard();
    } else if (command == SC_CLOSE) {
        close();
    }
}

void CMainDlg::OnPaint() {
    ClearViews();
}

// Both views down to their grids.
void CMainDlg::ClearViews() {
    PlotView* spectrum = SpectrumView();
    spectrum->Erase();
    DrawSpectrumGrid(spectrum->dc(), spectrum->viewRect());
    spectrum->update();

    PlotView* scope = ScopeView();
    scope->Erase();
    DrawScopeGrid(scope->dc(), scope->viewRect());
    scope->update();
}

void CMainDlg::paintEvent(QPaintEvent* event) {
    // Only a repaint of the whole window is an expose. A control that changes
    // its text repaints the dialog behind it as well, and must not wipe the
    // views.
    if (event->rect() == rect())
        OnPaint();
}

void CMainDlg::OnSpectrumRectangle() {
    SetWindowText(RectangleCaption);
    m_FFT.InitWindow(m_FFT.Order(), CFFT::Rectangle);
}

void CMainDlg::OnSpectrumQuasiChebishev() {
    SetWindowText(QuasiChebishevCaption);
    m_FFT.InitWindow(m_FFT.Order(), CFFT::QuasiChebyshev);
}

void CMainDlg::OnCommand(int id) {
    for (const CommandEntry& entry : CommandMap) {
        if (entry.id == id)
            (this->*entry.handler)();
    }
}

std::unique_ptr<QMenu> CMainDlg::CreateSpectrumMenu() {
    const PopupTemplate& popup = SpectrumMenuTemplate.popups.front();
    auto menu = std::make_unique<QMenu>(QString::fromUtf8(popup.caption));
    for (const MenuItemTemplate& item : popup.items) {
        if (item.command == 0) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(QString::fromUtf8(item.caption));
        action->setData(item.command);
        connect(action, &QAction::triggered, this,
                [this, command = item.command] { OnCommand(command); });
    }
    CheckMenuItem(*menu, ID_SPECTRUM_RECTANGLE, m_FFT.WindowType() == CFFT::Rectangle);
    CheckMenuItem(*menu, ID_SPECTRUM_QUASICHEBISHEV, m_FFT.WindowType() == CFFT::QuasiChebyshev);
    EnableMenuItem(*menu, ID_SAVE_RESPONSE, m_Trace.count() >= 0);
    EnableMenuItem(*menu, ID_SAVE_SPECTRUM, m_spectrumShown);
    EnableMenuItem(*menu, ID_CLEAR_COMPARISON, !m_comparison.empty());
    EnableMenuItem(*menu, ID_FAST_RESPONSE, !m_AFC && !m_fastResponse.Running());
    EnableMenuItem(*menu, ID_SAVE_FAST_RESPONSE, m_fastResponse.Response().has_value());
    return menu;
}

void CMainDlg::OnContextMenu(const QPoint& point) {
    const QWidget* spectrum = GetDlgItem(IDC_SPECTRUM);
    const QRect spectrumOnScreen(spectrum->mapToGlobal(QPoint(0, 0)), spectrum->size());
    if (!spectrumOnScreen.contains(point))
        return;
    std::unique_ptr<QMenu> menu = CreateSpectrumMenu();
    menu->exec(point);
}

void CMainDlg::contextMenuEvent(QContextMenuEvent* event) {
    OnContextMenu(event->reason() == QContextMenuEvent::Keyboard ? QPoint(-1, -1)
                                                                 : event->globalPos());
}

bool CMainDlg::eventFilter(QObject* watched, QEvent* event) {
    QLabel* icon = m_controls.icon();
    if (watched == icon && event->type() == QEvent::MouseButtonPress) {
        m_systemMenu->popup(icon->mapToGlobal(QPoint(0, icon->height())));
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void CMainDlg::PostLevel(WPARAM level) {
    if (SoundOutThread)
        SoundOutThread->PostThreadMessage(WM_SET_LEVEL, level, 0);
}

void CMainDlg::OnLevel0dB() {
    PostLevel(Level0dB);
    UpdateData(TRUE);
}

void CMainDlg::OnLevelMinus20dB() {
    PostLevel(LevelMinus20dB);
    UpdateData(TRUE);
}

void CMainDlg::OnLevelOff() {
    PostLevel(LevelOff);
    UpdateData(TRUE);
}

void CMainDlg::OnOptionClicked() {
    UpdateData(TRUE);
}

void CMainDlg::OnAFC() {
    if (m_AFC) {
        m_AFC = 0;
        EnableSettings(true);
        UpdateData(FALSE);
        return;
    }
    if (m_Level == 2) {
        PostLevel(LevelMinus20dB);
        m_Level = 1;
    }
    m_AFC = 1;
    m_Memory = 0;
    m_RemoveDC = 1;
    m_Trace.Clear();
    m_sweep.Start();
    m_sweepRun = DescribeRun("sweep");
    m_Frequency = SweepStartFrequency(FftSize);
    GenPeriod = SampleRate / m_Frequency;
    EnableSettings(false);
    UpdateData(FALSE);
}

void CMainDlg::EnableSettings(bool enable) {
    for (int id : SweepLockedControls)
        GetDlgItem(id)->setEnabled(enable);
}

// Noise lines are other lines near the tone's strength; the tone's own main
// lobe is left out. Blocks that may still carry the previous sweep tone fail
// as well: their lines are stale.
int CMainDlg::NoiseCheck() {
    const NoiseVerdict verdict = m_sweep.CheckNoise(Spectrum(), m_Frequency, m_FFT.WindowType());
    if (verdict == NoiseVerdict::FailAndTell)
        MessageBoxA(nullptr, "There are noise lines.", "Processing error.", MB_ICONERROR);
    return verdict == NoiseVerdict::Pass ? 1 : 0;
}

int CMainDlg::SweepStep(SweepPoint* out) {
    if (!m_sweep.CountBlock(Spectrum(), m_Frequency))
        return 0;
    const double f = m_Frequency;
    UpdateData(TRUE);
    m_Frequency = NextSweepFrequency(m_Frequency);
    if (m_Frequency >= SweepEndFrequency) {
        // No point for f: the tone stays there, the field shows the end text.
        m_Frequency = SweepEndFieldFrequency;
        OnAFC();
        return 0;
    }
    UpdateData(FALSE);
    const ResponsePoint& point = m_sweep.StorePoint(f, m_FFT);
    GenPeriod = SampleRate / m_Frequency;
    *out = {point.frequencyHz, point.levelDb};
    if (sweepObserver)
        sweepObserver(point);
    return 1;
}

void CMainDlg::OnSaveResponse() {
    const QString path = ChooseFile("Save response as CSV", "response.csv", CsvFilter, true);
    if (path.isEmpty())
        return;
    RunInfo run = m_sweepRun;
    const std::optional<int> window = m_sweep.PointsWindowType();
    run.window = window ? WindowName(*window) : "mixed";
    WriteResultFile(path, ResponseCsv(run, m_sweep.Points()));
}

void CMainDlg::OnSaveSpectrum() {
    const QString path = ChooseFile("Save spectrum as CSV", "spectrum.csv", CsvFilter, true);
    if (path.isEmpty())
        return;
    RunInfo run = DescribeRun("spectrum");
    run.toneHz = SampleRate / GenPeriod;
    run.blocks = 1;
    const std::span<const double> levels(Spectrum(), FftSize / 2);
    WriteResultFile(path, SpectrumCsv(run, levels, SampleRate / FftSize));
}

void CMainDlg::OnSavePicture() {
    const QString path = ChooseFile("Save picture", "tembrix.png", PngFilter, true);
    if (path.isEmpty())
        return;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    grab().save(&buffer, "PNG");
    WriteResultFile(path, std::string_view(png.constData(), png.size()));
}

void CMainDlg::OnCompareResponse() {
    const QString path = ChooseFile("Compare with saved response", "", CsvFilter, false);
    if (path.isEmpty())
        return;
    const std::string name = path.toStdString();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return ShowFileError("Cannot read " + name + ": " + file.errorString().toStdString());
    if (file.size() > LargestResponseFile)
        return ShowFileError(name + " is too large for a response file.");
    const QByteArray text = file.readAll();
    SavedResponse saved;
    std::string error;
    if (!ParseSavedResponse(std::string_view(text.constData(), text.size()), saved, error))
        return ShowFileError(name + " is not a response file: " + error);
    m_comparison.Load(ComparedLevels(saved, ToneLevelDb(m_Level)));
}

void CMainDlg::OnClearComparison() {
    m_comparison.Clear();
}

void CMainDlg::OnFastResponse() {
    // Disabled while a sweep or a fast response runs.
    if (m_AFC || m_fastResponse.Running())
        return;
    m_fastResponse.Start(DescribeRun("response"));
    GetDlgItem(IDC_AFC)->setEnabled(false);
}

// Once it has ended: AFC again, the new trace (from the next block on, as a
// sweep's point) and what there is to say.
void CMainDlg::EndFastResponse(FastResponse::Progress progress) {
    if (progress == FastResponse::Progress::Running)
        return;
    GetDlgItem(IDC_AFC)->setEnabled(true);
    if (progress == FastResponse::Progress::Measured)
        m_fastTrace.Load(ResponseLevels(m_fastResponse.Response()->points, ToneLevelDb(m_Level)));
    if (!m_fastResponse.Message().empty())
        MessageBoxA(nullptr, m_fastResponse.Message().c_str(), "Processing error.", MB_ICONERROR);
}

void CMainDlg::OnSaveFastResponse() {
    // Disabled until there is one.
    if (!m_fastResponse.Response())
        return;
    const QString path =
        ChooseFile("Save fast response as CSV", "fast-response.csv", CsvFilter, true);
    if (path.isEmpty())
        return;
    WriteResultFile(path, m_fastResponse.Csv());
}

RunInfo CMainDlg::DescribeRun(const char* measurement) const {
    const SoundCard& card = platform::CurrentSoundCard();
    RunInfo run;
    run.measurement = measurement;
    run.version = TembrixVersion;
    run.dateTime = IsoDateTime(std::chrono::system_clock::now());
    run.audio = platform::AudioBackendName(platform::SelectedAudioBackend());
    run.inputDevice = card.deviceName(WaveDirection::Input);
    run.outputDevice = card.deviceName(WaveDirection::Output);
    run.level = LevelName(m_Level);
    run.window = WindowName(m_FFT.WindowType());
    run.sampleRateHz = SampleRate;
    run.blockSize = FftSize;
    return run;
}

QString CMainDlg::ChooseFile(const char* title, const char* suggested, const char* filter,
                             bool forSaving) {
    const FileChooser& choose = fileChooser ? fileChooser : AskForFile;
    return choose(QString::fromUtf8(title), QString::fromUtf8(suggested), QString::fromUtf8(filter),
                  forSaving);
}

void CMainDlg::WriteResultFile(const QString& path, std::string_view contents) {
    std::string error;
    if (!platform::WriteFileAtomically(QFile::encodeName(path).toStdString(), contents, error))
        ShowFileError("Cannot write " + path.toStdString() + ": " + error);
}

void CMainDlg::OnHScroll(UINT nSBCode, UINT nPos, QScrollBar* pScrollBar) {
    int position = pScrollBar->value();
    switch (nSBCode) {
    case SB_LINELEFT:
        position -= OffsetLineStep;
        break;
    case SB_LINERIGHT:
        position += OffsetLineStep;
        break;
    case SB_PAGELEFT:
        position -= OffsetPageStep;
        break;
    case SB_PAGERIGHT:
        position += OffsetPageStep;
        break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK:
        position = static_cast<int>(nPos);
        break;
    case SB_LEFT:
        position = 0;
        break;
    case SB_RIGHT:
        position = OffsetMax;
        break;
    default:
        break;
    }
    pScrollBar->setValue(std::clamp(position, pScrollBar->minimum(), pScrollBar->maximum()));
}

void CMainDlg::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        OnOK();
        return;
    }
    QDialog::keyPressEvent(event); // Esc ends the dialog
}

void CMainDlg::OnOK() {
    // Disabled while a sweep runs.
    if (!GetDlgItem(IDC_FREQUENCY)->isEnabled())
        return;
    const double old = m_Frequency;
    UpdateData(TRUE); // after a text that is not a number, m_Frequency keeps its value
    const double low = 2 * SampleRate / FftSize;
    const double high = SampleRate * 0.5 - 5;
    if (m_Frequency > high || m_Frequency < low) {
        const std::string text =
            "Frequency must be in range " + Gcvt(low, 3) + "  ...  " + Gcvt(high, 7) + "!";
        MessageBoxA(nullptr, text.c_str(), "Input error.", MB_ICONERROR);
        m_Frequency = old;
    }
    GenPeriod = SampleRate / m_Frequency;
    UpdateData(FALSE);
}

void CMainDlg::OnSoundCard() {
    // Disabled on the virtual card and while a switch is under way.
    if (!m_soundCardItem->isEnabled())
        return;
    const platform::DeviceChoice current = platform::ChosenSystemDevices();
    const SoundCardChooser& choose = soundCardChooser ? soundCardChooser : AskForSoundCard;
    const std::optional<platform::DeviceChoice> choice = choose(this, current);
    if (!choice || *choice == current)
        return;
    if (m_AFC)
        OnAFC();
    ui::RememberSoundCardChoice(*choice);
    platform::ChooseSystemDevices(*choice);
    SwitchDevices();
}

// The playback thread is left alone, so the tone keeps its frequency and
// level; the capture thread's blocks simply resume from the new input.
void CMainDlg::SwitchDevices() {
    m_soundCardItem->setEnabled(false);
    const auto switched = [this] {
        if (m_deviceSwitch.joinable())
            m_deviceSwitch.join();
        m_soundCardItem->setEnabled(true);
        m_audioPath = audio::AudioPathCheck();
    };
    try {
        m_deviceSwitch = std::thread([this, switched] {
            platform::ReopenDevices();
            QMetaObject::invokeMethod(this, switched, Qt::QueuedConnection);
        });
    } catch (const std::system_error&) {
        platform::ReopenDevices(); // bounded, if not as smooth
        switched();
    }
}

void CMainDlg::OnInputTimer() {
    CheckAudioPath();
    ShowGapCounts();
    if (m_showingBlock || !InputHandle())
        return;
    m_inputWatch.InputOpened(platform::InputOpenedAt(InputHandle()));
    if (!m_inputWatch.CheckStalled())
        return;
    PrintLine(m_inputWatch.StoppedLine());
    ShowNoInput();
    if (m_fastResponse.Running())
        EndFastResponse(m_fastResponse.InputStopped());
}

// No stale curve may stay on screen as if live; the stored trace is drawn
// again with the first block that comes.
void CMainDlg::ShowNoInput() {
    SetPowerText(NoInputText);
    ClearViews();
}

void CMainDlg::ShowGapCounts() {
    const GapCounts counts{platform::InputGaps(InputHandle()), platform::OutputGaps(OutputHandle()),
                           platform::StreamReopens()};
    if (counts == m_gapCounts)
        return;
    m_gapCounts = counts;
    char text[160];
    std::snprintf(text, sizeof text,
                  "Gaps in the input: %llu\nGaps in the output: %llu\nStreams reopened: %llu",
                  static_cast<unsigned long long>(counts.input),
                  static_cast<unsigned long long>(counts.output),
                  static_cast<unsigned long long>(counts.reopens));
    QString tip = QString::fromLatin1(text);
    if (!m_audioPathLine.empty())
        tip += QLatin1Char('\n') + QString::fromStdString(m_audioPathLine);
    GetDlgItem(IDC_POWER)->setToolTip(tip);
}

// Asked once a block has been shown, so that the server holds our streams.
void CMainDlg::CheckAudioPath() {
    if (!m_audioPath.Started()) {
        if (m_spectrumShown)
            m_audioPath.Start();
        return;
    }
    const std::optional<AudioPath> path = m_audioPath.Take();
    if (!path)
        return;
    m_audioPathLine = AudioPathLine(*path);
    PrintLine(m_audioPathLine);
    m_gapCounts.reset(); // the tooltip takes the line
}

PlotView* CMainDlg::SpectrumView() const {
    return static_cast<PlotView*>(GetDlgItem(IDC_SPECTRUM));
}

PlotView* CMainDlg::ScopeView() const {
    return static_cast<PlotView*>(GetDlgItem(IDC_SCOPE));
}

PlotPens CMainDlg::Pens() {
    return {&m_PenCurve, &m_PenVMark, &m_PenHMark, &m_PenVGrid, &m_PenHGrid, m_ScopeColor};
}

void CMainDlg::DrawSpectrumGrid(CDC* pDC, const CRect& rect) {
    ::DrawSpectrumGrid(pDC, rect, Pens());
}

void CMainDlg::DrawSpectrumCurve(CDC* pDC, const CRect& rect) {
    ::DrawSpectrumCurve(pDC, rect, Pens(), Spectrum(), FftSize);
}

void CMainDlg::DrawScopeGrid(CDC* pDC, const CRect& rect) {
    ::DrawScopeGrid(pDC, rect, Pens());
}

void CMainDlg::DrawScopeTrace(CDC* pDC, const CRect& rect, int droppedBlocks) {
    const auto* offset = static_cast<QScrollBar*>(GetDlgItem(IDC_OFFSET));
    const ScopeSettings settings{GenPeriod.load(), m_Level, offset->value()};
    ::DrawScopeTrace(pDC, rect, Pens(), SampleBlock(), FftSize, settings, droppedBlocks);
}

void CMainDlg::SetWindowText(const char* text) {
    setWindowTitle(QString::fromUtf8(text));
}
