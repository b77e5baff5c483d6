// Main window: frame, menus, toolbars, status bar and the screen side of
// the session.
#include "app/TF_Main.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <cerrno>
#include <QGuiApplication>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

#include "app/HelpViewer.h"
#include "app/Pictures.h"
#include "app/StatusPanel.h"
#include "app/TAboutBox.h"
#include "connect/Connect.h"
#include "core/ReadAgain.h"
#include "link/PortList.h"

namespace varnel {

namespace {

// The link a running boot-loader simulator keeps is offered too, so trying
// the tool needs no typing.
std::vector<std::string> PortListWithSimulator() {
  std::vector<std::string> list;
  BuildPortList(list, false);
  const std::string link = SimulatedTargetLink();
  if (!link.empty()) list.insert(list.end() - 1, link);  // "None" stays last
  return list;
}

const char* const kTargetButtons[] = {"SpeedAll", "SpeedCode", "SpeedExt", "SpeedIRAM",
                                      "SpeedSFR", "SpeedCFG",  "SpeedProg"};
}  // namespace

TF_Main::TF_Main(QWidget* parent, const std::string& userStorePath, Prompts* prompts)
    : QMainWindow(parent), prompts_(prompts ? prompts : &ownPrompts_),
      settings_(session_, userStorePath) {
  setObjectName(QStringLiteral("F_Main"));
  setWindowTitle(QStringLiteral("Varnel"));
  // Every window of the program carries its icon: those without one of
  // their own take the application's.
  QApplication::setWindowIcon(ProgramIcon());
  setWindowIcon(QApplication::windowIcon());
  resize(696, 480);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  mdi_ = new QMdiArea(this);
  mdi_->setObjectName(QStringLiteral("MdiArea"));
  setCentralWidget(mdi_);

  BuildMenus();
  BuildToolBars();
  BuildStatusBar();

  // Comm1 strips NUL bytes; everything else keeps the component's defaults.
  TCommOptions options;
  options.Include(coNullStrip);
  comm1_.SetOptions(options);
  comm1_.SetDeviceName("Com1");
  session_.AttachUi(this);
  session_.AttachPort(&comm1_);
  // A port that hangs up is found by its receive path, inside a handler:
  // the run is ended from the event loop.
  comm1_.OnHangUp = [this](CommPort&) {
    QTimer::singleShot(0, this, [this] { PortWentAway(); });
  };
  engine_ = std::make_unique<Engine>(session_, settings_);
  views_ = std::make_unique<MemoryViews>(session_, mdi_);
  progress_ = std::make_unique<ProgressHost>(session_, this);
  commands_ = std::make_unique<ProjectCommands>(session_, settings_);
  BindCommands();
  replyWatch_.setInterval(ProgressHost::kWatchMs);
  connect(&replyWatch_, &QTimer::timeout, this, [this] {
    if (!engine_->Programming().Tick()) replyWatch_.stop();
  });

  // Start-up: port list, working folder, images, the stored port, settings.
  settings_.StartUp(PortListWithSimulator);
}

TF_Main::~TF_Main() {
  if (!shutDown_) {
    shutDown_ = true;
    settings_.ShutDown([this] { views_->DestroyAll(); });
  }
  progress_.reset();  // its window goes before the session it reports to
  delete trace_.data();  // it listens on Comm1, which goes before the child windows
  views_.reset();
  session_.AttachPort(nullptr);
  comm1_.OnRxChar = nullptr;
  comm1_.OnHangUp = nullptr;
}

void TF_Main::Bind(const char* action, std::function<void()> command) {
  // The top-level error report: a port error raised by a command is shown
  // in an error box with its message; the program goes on.
  connect(Action(QString::fromLatin1(action)), &QAction::triggered, this,
          [this, command = std::move(command)] {
            try {
              command();
            } catch (const std::exception& e) {
              MessageBox(MessageKind::Error, e.what());
            }
          });
}

void TF_Main::SpeedProgClick() {
  TimeRun(RunClock::Run::Programming, [this] { engine_->Program(); });
  // A target that stopped answering ends the run after its deadline
  // instead of keeping the window waiting.
  if (engine_->Programming().Waiting()) replyWatch_.start();
}
void TF_Main::SpeedAllClick() { TimeRun(RunClock::Run::Upload, [this] { engine_->UploadAll(); }); }
void TF_Main::SpeedCodeClick() {
  TimeRun(RunClock::Run::Upload, [this] { engine_->Upload(MemoryKind::Code); });
}
void TF_Main::SpeedExtClick() {
  TimeRun(RunClock::Run::Upload, [this] { engine_->Upload(MemoryKind::ExtRAM); });
}
void TF_Main::SpeedIRAMClick() {
  TimeRun(RunClock::Run::Upload, [this] { engine_->Upload(MemoryKind::IRAM); });
}
void TF_Main::SpeedSFRClick() {
  TimeRun(RunClock::Run::Upload, [this] { engine_->Upload(MemoryKind::SFR); });
}
void TF_Main::SpeedCFGClick() {
  TimeRun(RunClock::Run::Upload, [this] { engine_->Upload(MemoryKind::Cfg); });
}

void TF_Main::Show(const Outcome& outcome) {
  if (!outcome.Done() && !outcome.text.empty()) MessageBox(outcome.Box(), outcome.text);
}

void TF_Main::BindCommands() {
  for (const char* name : {"New1", "SpeedNew"}) {
    Bind(name, [this] { Show(commands_->SpeedNewClick()); });
  }
  for (const char* name : {"Open1", "SpeedOpen"}) {
    Bind(name, [this] { Show(commands_->SpeedOpenClick()); });
  }
  Bind("Close1", [this] { commands_->Close1Click(); });
  for (const char* name : {"Connect1", "SpeedConnect"}) Bind(name, [this] { Connect1Click(); });
  for (const char* name : {"Program1", "SpeedProg"}) Bind(name, [this] { SpeedProgClick(); });
  for (const char* name : {"Upload1", "SpeedAll"}) Bind(name, [this] { SpeedAllClick(); });
  Bind("SpeedCode", [this] { SpeedCodeClick(); });
  Bind("SpeedExt", [this] { SpeedExtClick(); });
  Bind("SpeedIRAM", [this] { SpeedIRAMClick(); });
  Bind("SpeedSFR", [this] { SpeedSFRClick(); });
  Bind("SpeedCFG", [this] { SpeedCFGClick(); });
  Bind("Trace1", [this] { Trace1Click(); });
  for (const char* name : {"Configure1", "SpeedTool"}) {
    Bind(name, [this] { Show(commands_->Configure1Click()); });
  }
  // The Target menu's "Upload ..." items open the views; they send nothing.
  const std::pair<const char*, MemoryKind> views[] = {
      {"CODE1", MemoryKind::Code}, {"ExtRAM1", MemoryKind::ExtRAM}, {"IRAM1", MemoryKind::IRAM},
      {"SFR1", MemoryKind::SFR},   {"PS1cfg1", MemoryKind::Cfg}};
  const char* const targetItems[] = {"UploadCODE1", "UploadExtRAM1", "UploadIRAM1",
                                     "UploadSFR1", "UploadPS1cfg1"};
  for (int i = 0; i < 5; ++i) {
    const MemoryKind kind = views[i].second;
    Bind(views[i].first, [this, kind] { OpenView(kind); });
    Bind(targetItems[i], [this, kind] { OpenView(kind); });
  }
  connect(views_.get(), &MemoryViews::OpenChanged, this, [this, views](MemoryKind kind, bool open) {
    for (const auto& [name, k] : views) {
      if (k == kind) Action(QString::fromLatin1(name))->setChecked(open);
    }
  });
}

bool TF_Main::Idle() const {
  return session_.LastCommand.empty() && !session_.UploadAllActive && !session_.ProgrammingActive;
}

void TF_Main::TimeRun(RunClock::Run run, const std::function<void()>& command) {
  const RunClock::TimePoint start = runClock_.Now();
  if (run == RunClock::Run::Programming) {
    // A programming run takes the link over from whatever was waiting.
    const std::uint64_t readAgain = session_.RepliesReadAgain;
    command();
    if (session_.ProgrammingActive) {
      runClock_.Start(run, start);
      readAgainBefore_ = readAgain;
    }
    return;
  }
  // An upload refused while another run goes on must not restart its clock.
  const bool idle = Idle();
  if (idle) runClock_.Abandon();
  const std::uint64_t readAgain = session_.RepliesReadAgain;
  command();
  if (idle && !Idle() && !runClock_.Current()) {
    runClock_.Start(run, start);
    readAgainBefore_ = readAgain;
  }
}

void TF_Main::ShowRunTime() {
  std::string text = runClock_.Complete();
  if (text.empty()) return;
  // A run over a noisy line says how many damaged replies it read again.
  const std::string again = ReadAgainText(session_.RepliesReadAgain - readAgainBefore_);
  if (!again.empty()) text += ", " + again;
  SetStatusPanel(Session::kStatusReceive, text);
}

TF_Trace* TF_Main::Trace1Click() {
  if (!trace_) {
    trace_ = new TF_Trace(comm1_, *this, [this] { return session_.WorkDir; });
    mdi_->addSubWindow(trace_);
    trace_->resize(520, 300);
    connect(trace_, &TF_Trace::Closed, this, [this] { Action("Trace1")->setChecked(false); });
  }
  Action("Trace1")->setChecked(true);
  trace_->show();
  mdi_->setActiveSubWindow(trace_);
  trace_->raise();
  return trace_;
}

void TF_Main::OpenView(MemoryKind kind) {
  views_->Open(kind);
  // The check mark follows the view, not the click that toggled it.
  const char* const names[] = {"CODE1", "ExtRAM1", "IRAM1", "SFR1", "PS1cfg1"};
  Action(QString::fromLatin1(names[static_cast<int>(kind)]))->setChecked(views_->IsOpen(kind));
}

void TF_Main::Connect1Click() {
  // A port that is closed or lost its adapter is opened again first; when
  // that fails the user hears why at once instead of waiting for retries.
  if (!settings_.EnsurePortReady()) {
    MessageBox(MessageKind::Error, ClosedPortText(settings_));
    return;
  }
  // Each click makes another connect window; it frees itself when closed.
  auto* window = new TF_Connect(session_, this);
  window->show();
}

QAction* TF_Main::AddAction(QMenu* menu, const char* name, const QString& text,
                            std::function<void()> command, const QKeySequence& shortcut) {
  auto* action = menu->addAction(text);
  action->setObjectName(QString::fromLatin1(name));
  if (!shortcut.isEmpty()) action->setShortcut(shortcut);
  if (command) connect(action, &QAction::triggered, this, [command] { command(); });
  actions_.insert(action->objectName(), action);
  return action;
}

void TF_Main::BuildMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  file->setObjectName(QStringLiteral("File1"));
  AddAction(file, "New1", QStringLiteral("&New"), nullptr, QKeySequence(QStringLiteral("Ctrl+N")));
  AddAction(file, "Open1", QStringLiteral("&Open"), nullptr,
            QKeySequence(QStringLiteral("Ctrl+O")));
  AddAction(file, "Close1", QStringLiteral("&Close"), nullptr)->setEnabled(false);
  AddAction(file, "Save1", QStringLiteral("&Save"), nullptr,
            QKeySequence(QStringLiteral("Ctrl+S")))
      ->setEnabled(false);
  AddAction(file, "SaveAs1", QStringLiteral("Save &As..."), nullptr)->setEnabled(false);
  file->addSeparator();
  AddAction(file, "Exit1", QStringLiteral("E&xit"), [this] { Exit1Click(); });

  QMenu* target = menuBar()->addMenu(QStringLiteral("&Target"));
  target->setObjectName(QStringLiteral("Target1"));
  AddAction(target, "Connect1", QStringLiteral("&Connect"), nullptr);
  AddAction(target, "Program1", QStringLiteral("&Program"), nullptr);
  target->addSeparator();
  AddAction(target, "Upload1", QStringLiteral("&Upload"), nullptr);
  AddAction(target, "UploadCODE1", QStringLiteral("Upload CO&DE"), nullptr);
  AddAction(target, "UploadExtRAM1", QStringLiteral("Upload &Ext. RAM"), nullptr);
  AddAction(target, "UploadIRAM1", QStringLiteral("Upload IRAM"), nullptr);
  AddAction(target, "UploadSFR1", QStringLiteral("Upload &SFR"), nullptr);
  AddAction(target, "UploadPS1cfg1", QStringLiteral("Upload &PS1 cfg"), nullptr);
  target->addSeparator();
  AddAction(target, "Configure1", QStringLiteral("Con&figure"), nullptr);

  QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
  view->setObjectName(QStringLiteral("View1"));
  for (auto [name, text] : {std::pair{"CODE1", "&CODE"}, std::pair{"ExtRAM1", "&Ext.RAM"},
                            std::pair{"IRAM1", "&IRAM"}, std::pair{"SFR1", "&SFR"},
                            std::pair{"PS1cfg1", "&PS1 cfg"}}) {
    AddAction(view, name, QString::fromLatin1(text), nullptr)->setCheckable(true);
  }
  view->addSeparator();
  AddAction(view, "Terminal1", QStringLiteral("&Terminal"), [this] { Terminal1Click(); });
  AddAction(view, "Trace1", QStringLiteral("Serial &trace"), nullptr)->setCheckable(true);

  windowMenu_ = menuBar()->addMenu(QStringLiteral("&Window"));
  windowMenu_->setObjectName(QStringLiteral("Window1"));
  connect(windowMenu_, &QMenu::aboutToShow, this, [this] { FillWindowMenu(); });
  FillWindowMenu();

  QMenu* help = menuBar()->addMenu(QStringLiteral("Help"));
  help->setObjectName(QStringLiteral("Help1"));
  AddAction(help, "HelpTopic1", QStringLiteral("&Help contents"), [this] { HelpTopic1Click(); });
  help->addSeparator();
  AddAction(help, "AboutVarnel1", QStringLiteral("&About Varnel"),
            [this] { AboutVarnel1Click(); });
}

void TF_Main::FillWindowMenu() {
  // "Cascade", a line, then the open child windows for activation.
  windowMenu_->clear();
  actions_.remove(QStringLiteral("Cascade1"));
  AddAction(windowMenu_, "Cascade1", QStringLiteral("Cascade"), [this] { Cascade1Click(); });
  windowMenu_->addSeparator();
  const auto windows = mdi_->subWindowList();
  for (int i = 0; i < windows.size(); ++i) {
    QMdiSubWindow* child = windows[i];
    auto* item = windowMenu_->addAction(
        QStringLiteral("&%1 %2").arg(i + 1).arg(child->windowTitle()));
    item->setCheckable(true);
    item->setChecked(child == mdi_->activeSubWindow());
    connect(item, &QAction::triggered, this, [this, child] { mdi_->setActiveSubWindow(child); });
  }
}

QAction* TF_Main::AddButton(QToolBar* bar, const char* name, const QString& hint,
                            int pictureSize, std::function<void()> command) {
  const QString id = QString::fromLatin1(name);
  auto* action = bar->addAction(QIcon(ToolPicture(id, pictureSize)), hint);
  action->setObjectName(id);
  action->setToolTip(hint);
  if (command) connect(action, &QAction::triggered, this, [command] { command(); });
  actions_.insert(id, action);
  return action;
}

void TF_Main::BuildToolBars() {
  const char* const titles[] = {"File tool", "Target tool", "Upload tool"};
  for (int i = 0; i < 3; ++i) {
    auto* bar = new QToolBar(QString::fromLatin1(titles[i]), this);
    bar->setObjectName(QStringLiteral("ToolBar%1").arg(i + 1));
    bar->setMovable(true);
    bar->setFloatable(true);
    bar->setIconSize(i == 0 ? QSize(16, 16) : QSize(18, 18));
    addToolBar(Qt::TopToolBarArea, bar);
    toolBars_[i] = bar;
  }
  AddButton(toolBars_[0], "SpeedNew", QStringLiteral("New project"), 16, nullptr);
  AddButton(toolBars_[0], "SpeedOpen", QStringLiteral("Open file or project"), 16, nullptr);
  AddButton(toolBars_[0], "SpeedSave", QStringLiteral("Save modified file"), 16, nullptr)
      ->setEnabled(false);

  AddButton(toolBars_[1], "SpeedConnect", QStringLiteral("Connect to target"), 18, nullptr);
  AddButton(toolBars_[1], "SpeedProg", QStringLiteral("Start programming target"), 18, nullptr);
  toolBars_[1]->addSeparator();
  AddButton(toolBars_[1], "Speed", QStringLiteral("Run user program or continue after break"),
            18, nullptr)
      ->setEnabled(false);

  AddButton(toolBars_[2], "SpeedAll", QStringLiteral("Upload All selected"), 18, nullptr);
  AddButton(toolBars_[2], "SpeedCode", QStringLiteral("Upload Code memory from target"), 18,
            nullptr);
  AddButton(toolBars_[2], "SpeedExt", QStringLiteral("Upload ext. memory from target"), 18,
            nullptr);
  AddButton(toolBars_[2], "SpeedIRAM", QStringLiteral("Upload IRAM from target"), 18, nullptr);
  AddButton(toolBars_[2], "SpeedSFR", QStringLiteral("Upload SFR from target"), 18, nullptr);
  AddButton(toolBars_[2], "SpeedCFG", QStringLiteral("Upload HW configuration memory from target"),
            18, nullptr);
  toolBars_[2]->addSeparator();
  AddButton(toolBars_[2], "SpeedTool", QStringLiteral("Target or project properties"), 18,
            nullptr);
}

void TF_Main::BuildStatusBar() {
  for (int i = 0; i < 3; ++i) {
    panels_[i] = new StatusPanel(this);
    panels_[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i + 1));
    panels_[i]->setFixedWidth(kPanelWidths[i]);
    panels_[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    statusBar()->addWidget(panels_[i], i == 2 ? 1 : 0);
  }
  panels_[2]->setMinimumWidth(kPanelWidths[2]);
  panels_[2]->setMaximumWidth(QWIDGETSIZE_MAX);
  statusBar()->setObjectName(QStringLiteral("StatusBar1"));
}

QString TF_Main::StatusText(int index) const {
  return (index >= 0 && index < 3) ? panels_[index]->FullText() : QString();
}

void TF_Main::Exit1Click() { close(); }

void TF_Main::Cascade1Click() { mdi_->cascadeSubWindows(); }

void TF_Main::HelpTopic1Click() {
  auto* viewer = new HelpViewer(QStringLiteral("Varnel.hlp"), this);
  viewer->show();
}

void TF_Main::AboutVarnel1Click() {
  TAboutBox box(this);
  box.exec();
}

void TF_Main::closeEvent(QCloseEvent* event) {
  // A sequence left half done would leave the loader in its line mode: the
  // user is asked, and the run stopped in order first.
  if (!shutDown_ && !Idle()) {
    if (!prompts_->Confirm("Varnel", kStopQuestion)) {
      event->ignore();
      return;
    }
    StopRunBeforeExit();
  }
  // Shut-down: views, port, programming file; nothing is saved.
  if (!shutDown_) {
    shutDown_ = true;
    progress_->ProgressClose();
    settings_.ShutDown([this] { views_->DestroyAll(); });
  }
  QMainWindow::closeEvent(event);
}

void TF_Main::StopRunBeforeExit() {
  // The stop takes the next reply (the end record's during a download) or
  // the Cancel guard's quiet second; this bounds the wait beyond both.
  constexpr int kStopWaitMs = 3000;
  progress_->StopRun();
  QElapsedTimer waited;
  waited.start();
  while (!Idle() && waited.elapsed() < kStopWaitMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
  }
}

void TF_Main::PortWentAway() {
  if (shutDown_) return;
  // The port's own error, as a read from it now raises it.
  const std::string error = ECommError("Read error", EIO).what();
  settings_.PortWentAway(error);
  progress_->ProgressClose();
  Outcome gone{OutcomeKind::PortFailed, error};
  gone.command = session_.LastCommand.str();
  session_.EndLostRun(gone);
}

// --- TargetUi ---------------------------------------------------------------

void TF_Main::StartProgress(const ProgressStart& how) { progress_->StartProgress(how); }
void TF_Main::StepProgress(int position, const std::string& text) {
  progress_->StepProgress(position, text);
}
bool TF_Main::ProgressOpen() const { return progress_->ProgressOpen(); }
int TF_Main::ProgressPosition() const { return progress_->ProgressPosition(); }
void TF_Main::EndProgress() {
  progress_->EndProgress();
  // A programming run without the register writes ends with its download,
  // without a notice: once nothing waits any more, it has completed.
  if (runClock_.Current() == RunClock::Run::Programming) {
    QTimer::singleShot(0, this, [this] {
      if (runClock_.Current() == RunClock::Run::Programming && Idle() &&
          !session_.StopRequested) {
        ShowRunTime();
      }
    });
  }
}
void TF_Main::ShowNotice(const std::string& caption, const std::string& text,
                         const std::string& button) {
  runClock_.MarkEnd();  // the notice's time on screen is not the run's
  progress_->ShowNotice(caption, text, button);
}

void TF_Main::MessageBox(MessageKind kind, const std::string& text) {
  prompts_->MessageBox(kind, text);
}

std::string TF_Main::ChooseFile(FileChoice choice, const std::string& startDir) {
  return prompts_->ChooseFile(choice, startDir);
}

std::optional<PropertyValues> TF_Main::EditProperties(const PropertiesRequest& request) {
  return prompts_->EditProperties(request);
}

bool TF_Main::Confirm(const std::string& caption, const std::string& text) {
  return prompts_->Confirm(caption, text);
}

void TF_Main::SetMainCaption(const std::string& text) {
  setWindowTitle(QString::fromStdString(text));
}

void TF_Main::SetStatusPanel(int index, const std::string& text) {
  // Port names and file paths come from the system; wire text is Latin-1.
  if (index < 0 || index >= 3) return;
  const QString full = QString::fromStdString(text);
  if (index == Session::kStatusReceive) FitReceivePanel(full);
  panels_[index]->SetFullText(full);
  if (index == Session::kStatusPort) {
    // A closed port says why in its tool tip.
    const std::string& error = settings_.PortError();
    QString reason;
    if (!session_.PortOpen && !error.empty()) {
      reason = QString::fromStdString(session_.ProjectSettings.PortName + ": " + error).trimmed();
    }
    panels_[index]->SetReason(reason);
  }
}

void TF_Main::FitReceivePanel(const QString& text) {
  // A run's summary may say more than the receive count's 150 pixels hold
  // (the damaged replies read again): the panel grows for it, taking room
  // from the program file's, and is back to its width for the count.
  StatusPanel* panel = panels_[Session::kStatusReceive];
  const int fits = text.isEmpty() ? 0 : panel->WidthFor(text);
  const int width = std::clamp(fits, kPanelWidths[1], kWidestReceivePanel);
  if (panel->minimumWidth() != width || panel->maximumWidth() != width) panel->setFixedWidth(width);
}

void TF_Main::SetToolBarsEnabled(bool enabled) {
  toolBars_[1]->setEnabled(enabled);
  toolBars_[2]->setEnabled(enabled);
}

void TF_Main::SetTargetButtonsEnabled(bool enabled) {
  for (const char* name : kTargetButtons) {
    if (QAction* a = actions_.value(QString::fromLatin1(name))) a->setEnabled(enabled);
  }
}

void TF_Main::SetProjectCloseEnabled(bool enabled) { Action("Close1")->setEnabled(enabled); }

void TF_Main::RefreshView(MemoryKind kind) { views_->Refresh(kind); }
void TF_Main::RefreshAllViews() { views_->RefreshAll(); }

void TF_Main::RunEnded(const Outcome& outcome) {
  // The clock times the run that has just ended. A refusal never started
  // one, and a port error under a run that still holds the link leaves it
  // to that run.
  if (outcome.Done()) {
    if (Idle()) ShowRunTime();
  } else if (outcome.kind != OutcomeKind::Refused &&
             (outcome.kind != OutcomeKind::PortFailed || Idle())) {
    runClock_.Abandon();
  }
  // A finished run has shown its own notice; every other end is a box.
  Show(outcome);
}

void TF_Main::ProcessEvents() { QCoreApplication::processEvents(); }

void TF_Main::Sleep(int milliseconds) {
  // A blocking wait, as the loader's timing needs; replies that arrive
  // meanwhile are read afterwards.
  if (milliseconds > 0) QThread::msleep(static_cast<unsigned long>(milliseconds));
}

}  // namespace varnel
