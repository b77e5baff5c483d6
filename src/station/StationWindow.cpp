// The station window: binds the controls, shows the runner's events.
#include "station/StationWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QSplitter>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "station/JobEditor.h"
#include "station/PortChoices.h"
#include "station/StationTile.h"

namespace varnel::station {
namespace {

constexpr int kRecordsKept = 50;
// The exit status of a run ended by a stop.
constexpr int kInterrupted = 130;

bool Interrupted(const BoardEvent& e) {
  return e.state == BoardEvent::State::Failed && e.exitStatus == kInterrupted;
}

QLabel* CountLabel(const QString& name, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setObjectName(name);
  QFont f = label->font();
  f.setPointSizeF(f.pointSizeF() * 1.5);
  f.setBold(true);
  label->setFont(f);
  return label;
}

}  // namespace

StationWindow::StationWindow(std::unique_ptr<StationRunner> runner, Mode mode, QWidget* parent)
    : QMainWindow(parent), runner_(std::move(runner)), mode_(mode) {
  setObjectName(QStringLiteral("StationWindow"));
  askStopAndClose = [this] {
    return QMessageBox::question(this, tr("Boards are being programmed"),
                                 tr("Boards are being programmed. Stop the station (running downloads "
                                    "end first) and close?"),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
  };
  askSaveChanges = [this] {
    return QMessageBox::question(this, tr("The job has changed"), tr("Save the changes to the job?"),
                                 QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel,
                                 QMessageBox::Save);
  };
  beep = [] { QApplication::beep(); };

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  banner_ = new QLabel(central);
  banner_->setObjectName(QStringLiteral("Banner"));
  banner_->setWordWrap(true);
  banner_->setAutoFillBackground(true);
  banner_->setMargin(10);
  QPalette red = banner_->palette();
  red.setColor(QPalette::Window, QColor(0xc6, 0x28, 0x28));
  red.setColor(QPalette::WindowText, Qt::white);
  banner_->setPalette(red);
  QFont bannerFont = banner_->font();
  bannerFont.setPointSizeF(bannerFont.pointSizeF() * 1.3);
  bannerFont.setBold(true);
  banner_->setFont(bannerFont);
  banner_->hide();
  layout->addWidget(banner_);

  auto* bar = new QHBoxLayout;
  start_ = new QPushButton(tr("Start"), central);
  start_->setObjectName(QStringLiteral("Start"));
  stop_ = new QPushButton(tr("Stop"), central);
  stop_->setObjectName(QStringLiteral("Stop"));
  for (QPushButton* b : {start_, stop_}) {
    QFont f = b->font();
    f.setPointSizeF(f.pointSizeF() * 1.4);
    f.setBold(true);
    b->setFont(f);
    b->setMinimumSize(130, 44);
    bar->addWidget(b);
  }
  start_->setToolTip(tr("Start programming on every port (Space)"));
  stop_->setToolTip(tr("Stop after the running downloads (Space)"));
  bar->addSpacing(20);
  okCount_ = CountLabel(QStringLiteral("CountOk"), central);
  failedCount_ = CountLabel(QStringLiteral("CountFailed"), central);
  yield_ = CountLabel(QStringLiteral("Yield"), central);
  for (QLabel* l : {okCount_, failedCount_, yield_}) {
    bar->addWidget(l);
    bar->addSpacing(16);
  }
  bar->addStretch(1);
  open_ = new QPushButton(tr("&Open…"), central);
  open_->setObjectName(QStringLiteral("Open"));
  save_ = new QPushButton(tr("Save"), central);
  save_->setObjectName(QStringLiteral("Save"));
  save_->setToolTip(tr("Save the job (Ctrl+S)"));
  saveAs_ = new QPushButton(tr("Save &as…"), central);
  saveAs_->setObjectName(QStringLiteral("SaveAs"));
  for (QPushButton* b : {open_, save_, saveAs_}) bar->addWidget(b);
  layout->addLayout(bar);

  auto* split = new QSplitter(Qt::Horizontal, central);
  editor_ = new JobEditor;
  auto* editorScroll = new QScrollArea(split);
  editorScroll->setObjectName(QStringLiteral("JobEditorArea"));
  editorScroll->setWidget(editor_);
  editorScroll->setWidgetResizable(true);
  // The job is read top to bottom: a long job scrolls down, never sideways,
  // so the panel is as wide as the editor needs beside a vertical scroll
  // bar, whether that shows or not.
  editorScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  editorScroll->setMinimumWidth(std::max(560, editor_->minimumSizeHint().width() +
                                                  editorScroll->verticalScrollBar()->sizeHint().width() +
                                                  2 * editorScroll->frameWidth()));
  split->addWidget(editorScroll);

  auto* right = new QWidget(split);
  auto* rightLayout = new QVBoxLayout(right);
  rightLayout->setContentsMargins(0, 0, 0, 0);
  operatorJob_ = new QLabel(right);
  operatorJob_->setObjectName(QStringLiteral("OperatorJob"));
  operatorJob_->setWordWrap(true);
  operatorJob_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  operatorJob_->hide();
  rightLayout->addWidget(operatorJob_);
  tilesBox_ = new QWidget(right);
  tilesGrid_ = new QGridLayout(tilesBox_);
  tilesGrid_->setSpacing(10);
  auto* tilesScroll = new QScrollArea(right);
  tilesScroll->setWidget(tilesBox_);
  tilesScroll->setWidgetResizable(true);
  tilesScroll->setFrameShape(QFrame::NoFrame);
  rightLayout->addWidget(tilesScroll, 3);
  records_ = new QTableWidget(0, 5, right);
  records_->setObjectName(QStringLiteral("Records"));
  records_->setHorizontalHeaderLabels({tr("Time"), tr("Port"), tr("Serial"), tr("Result"), tr("Message")});
  records_->horizontalHeader()->setStretchLastSection(true);
  records_->verticalHeader()->hide();
  records_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  records_->setSelectionBehavior(QAbstractItemView::SelectRows);
  records_->setMinimumHeight(150);
  rightLayout->addWidget(records_, 2);
  split->addWidget(right);
  split->setStretchFactor(1, 1);
  layout->addWidget(split, 1);
  setCentralWidget(central);

  if (mode_ == Mode::Operator) {
    editorScroll->hide();
    operatorJob_->show();
    for (QPushButton* b : {open_, save_, saveAs_}) b->hide();
  }

  connect(start_, &QPushButton::clicked, this, &StationWindow::Start);
  connect(stop_, &QPushButton::clicked, this, &StationWindow::Stop);
  connect(open_, &QPushButton::clicked, this, [this] {
    const QString path = QFileDialog::getOpenFileName(this, tr("Open a station file"), QFileInfo(path_).absolutePath(),
                                                      tr("Station files (*.station *.ini);;All files (*)"));
    if (!path.isEmpty()) OpenJob(path);
  });
  connect(save_, &QPushButton::clicked, this, &StationWindow::Save);
  connect(saveAs_, &QPushButton::clicked, this, &StationWindow::SaveAs);
  connect(editor_, &JobEditor::edited, this, [this] {
    modified_ = true;
    if (!Running()) BuildTiles(editor_->Job().ports);
    UpdateTitle();
  });
  connect(editor_, &JobEditor::firmwareShown, this, &StationWindow::ShowOperatorJob);
  connect(runner_.get(), &StationRunner::boardEvent, this, &StationWindow::OnBoardEvent);
  connect(runner_.get(), &StationRunner::finished, this, &StationWindow::OnFinished);
  connect(runner_.get(), &StationRunner::storeFailed, this, &StationWindow::ShowBanner);
  connect(runner_.get(), &StationRunner::refused, this,
          [this](const QString& why) { ShowBanner(tr("The station did not start: %1").arg(why)); });

  // Space starts and stops, except where it types or ticks something.
  auto* space = new QShortcut(QKeySequence(Qt::Key_Space), this);
  connect(space, &QShortcut::activated, this, [this] { Running() ? Stop() : Start(); });
  for (QWidget* w : editor_->findChildren<QWidget*>()) w->installEventFilter(this);
  auto* save = new QShortcut(QKeySequence(QStringLiteral("Ctrl+S")), this);
  connect(save, &QShortcut::activated, this, [this] {
    if (mode_ == Mode::Edit) Save();
  });
  auto* quit = new QShortcut(QKeySequence(QStringLiteral("Ctrl+Q")), this);
  connect(quit, &QShortcut::activated, this, &QWidget::close);

  clock_ = new QTimer(this);
  connect(clock_, &QTimer::timeout, this, [this] {
    for (auto& [port, tile] : tiles_) tile->Tick();
    editor_->CheckFirmware();
  });
  clock_->start(1000);

  modified_ = false;
  BuildTiles({});
  UpdateCounters();
  UpdateControls();
  UpdateTitle();
  resize(1260, 780);
}

StationWindow::~StationWindow() = default;

bool StationWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::ShortcutOverride) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier) {
      event->accept();  // the editor's own: a blank typed, a box ticked
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

bool StationWindow::OpenJob(const QString& path) {
  const JobRead read = ReadJob(path.toStdString());
  if (!read.ok) {
    ShowBanner(QString::fromStdString(read.error));
    return false;
  }
  path_ = path;
  editor_->SetJob(read.job);
  modified_ = false;
  banner_->hide();
  UpdateTitle();
  return true;
}

bool StationWindow::WriteTo(const QString& path) {
  std::string error;
  if (!WriteJob(path.toStdString(), editor_->Job(), &error)) {
    ShowBanner(tr("The job was not saved: %1").arg(QString::fromStdString(error)));
    return false;
  }
  path_ = path;
  modified_ = false;
  UpdateTitle();
  return true;
}

bool StationWindow::Save() {
  if (mode_ != Mode::Edit) return false;
  return path_.isEmpty() ? SaveAs() : WriteTo(path_);
}

bool StationWindow::SaveAs() {
  if (mode_ != Mode::Edit) return false;
  QString path = QFileDialog::getSaveFileName(this, tr("Save the job as"), path_,
                                              tr("Station files (*.station *.ini);;All files (*)"));
  if (path.isEmpty()) return false;
  if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".station");
  return WriteTo(path);
}

bool StationWindow::Running() const { return runner_->running(); }

void StationWindow::Start() {
  if (Running()) return;
  const StationJob job = editor_->Job();
  if (const std::string problem = JobProblem(job); !problem.empty()) {
    ShowBanner(tr("The station did not start: %1.").arg(QString::fromStdString(problem)));
    return;
  }
  if (editor_->firmware().path != job.file) editor_->ReloadFirmware();
  editor_->CheckFirmware();
  const Firmware& f = editor_->firmware();
  if (!f.ok) {
    ShowBanner(tr("The station did not start: %1").arg(QString::fromStdString(f.error)));
    return;
  }
  if (editor_->FirmwareChanged()) {
    ShowBanner(tr("The station did not start: %1 changed on disk after it was loaded.")
                   .arg(QString::fromStdString(f.name)));
    return;
  }
  banner_->hide();
  BuildTiles(job.ports);
  runner_->start(job);
  UpdateControls();
}

void StationWindow::StopAndQuit() {
  quitting_ = true;
  closePending_ = true;
  if (Running()) {
    Stop();
  } else {
    close();
  }
}

void StationWindow::Stop() {
  if (!Running()) return;
  runner_->stop();
  stop_->setEnabled(false);
  stop_->setText(tr("Stopping…"));
}

void StationWindow::BuildTiles(const std::vector<std::string>& ports) {
  std::map<QString, StationTile*> kept;
  for (auto& [port, tile] : tiles_) {
    tilesGrid_->removeWidget(tile);
    kept[port] = tile;
  }
  tiles_.clear();
  const int n = static_cast<int>(ports.size());
  const int columns = n <= 3 ? std::max(n, 1) : static_cast<int>(std::ceil(std::sqrt(n)));
  for (int i = 0; i < n; ++i) {
    const QString port = QString::fromStdString(ports[static_cast<std::size_t>(i)]);
    StationTile* tile = kept.count(port) ? kept[port] : new StationTile(port, tilesBox_);
    if (!kept.count(port)) tile->Stopped(tr("ready"));
    kept.erase(port);
    tiles_[port] = tile;
    tilesGrid_->addWidget(tile, i / columns, i % columns);
  }
  for (auto& [port, tile] : kept) delete tile;
}

StationTile* StationWindow::TileOf(const QString& port) const {
  const auto it = tiles_.find(port);
  return it == tiles_.end() ? nullptr : it->second;
}

void StationWindow::OnBoardEvent(const BoardEvent& e) {
  if (StationTile* tile = TileOf(e.port)) tile->Show(e);
  if (e.state != BoardEvent::State::Ok && e.state != BoardEvent::State::Failed) return;
  Record(e);
  // A board cut short by a stop is no bad board: it is not counted against
  // the yield and does not call the operator; its tile stays red all the
  // same, since it is not programmed.
  if (Interrupted(e)) return;
  (e.state == BoardEvent::State::Ok ? ok_ : failed_) += 1;
  UpdateCounters();
  if (e.state == BoardEvent::State::Failed && beep) beep();
}

void StationWindow::Record(const BoardEvent& e) {
  records_->insertRow(0);
  const QStringList cells = {QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss")),
                             QString::fromStdString(ShortPortName(e.port.toStdString())),
                             e.serial ? QString::number(*e.serial) : QString(),
                             e.state == BoardEvent::State::Ok ? tr("OK")
                             : Interrupted(e)                 ? tr("STOPPED (exit %1)").arg(e.exitStatus)
                                                              : tr("FAILED (exit %1)").arg(e.exitStatus),
                             e.message};
  for (int c = 0; c < cells.size(); ++c) {
    auto* item = new QTableWidgetItem(cells[c]);
    if (c == 1) item->setToolTip(e.port);
    if (c == 4) item->setToolTip(e.message);
    records_->setItem(0, c, item);
  }
  while (records_->rowCount() > kRecordsKept) records_->removeRow(records_->rowCount() - 1);
  // The message takes what the others leave, however short it is.
  for (int c = 0; c + 1 < records_->columnCount(); ++c) records_->resizeColumnToContents(c);
}

void StationWindow::UpdateCounters() {
  okCount_->setText(tr("OK %1").arg(ok_));
  failedCount_->setText(tr("Failed %1").arg(failed_));
  const int all = ok_ + failed_;
  yield_->setText(all == 0 ? tr("Yield –") : tr("Yield %1 %").arg(100.0 * ok_ / all, 0, 'f', 1));
}

void StationWindow::OnFinished() {
  for (auto& [port, tile] : tiles_) tile->Stopped();
  UpdateControls();
  if (closePending_) close();
}

void StationWindow::ShowBanner(const QString& text) {
  banner_->setText(text);
  banner_->show();
}

QString StationWindow::BannerText() const { return banner_->isVisible() ? banner_->text() : QString(); }

void StationWindow::UpdateControls() {
  const bool running = Running();
  start_->setEnabled(!running);
  stop_->setEnabled(running);
  stop_->setText(tr("Stop"));
  editor_->setEnabled(!running);
  for (QPushButton* b : {open_, save_, saveAs_}) b->setEnabled(!running && mode_ == Mode::Edit);
}

void StationWindow::UpdateTitle() {
  const QString name = path_.isEmpty() ? tr("new job") : QFileInfo(path_).fileName();
  setWindowTitle(QStringLiteral("%1%2 — varnel-station%3")
                     .arg(name, modified_ && mode_ == Mode::Edit ? QStringLiteral("*") : QString(),
                          mode_ == Mode::Operator ? tr(" (operator)") : QString()));
}

void StationWindow::ShowOperatorJob() {
  if (mode_ != Mode::Operator) return;
  const StationJob job = editor_->Job();
  const Firmware& f = editor_->firmware();
  QString text = f.ok ? tr("<b>%1</b>, %2 bytes at %3, SHA-256 <tt>%4</tt>")
                            .arg(QString::fromStdString(f.name).toHtmlEscaped())
                            .arg(f.dataBytes)
                            .arg(QString::fromStdString(RangesText(f)))
                            .arg(QString::fromStdString(f.sha256.substr(0, 16)) + QStringLiteral("…"))
                      : QStringLiteral("<b>%1</b>").arg(QString::fromStdString(f.error).toHtmlEscaped());
  text += tr("<br>%1 ports at %2 baud%3%4")
              .arg(job.ports.size())
              .arg(job.baud)
              .arg(job.verify ? tr(", verified") : QString())
              .arg(job.serialAddress.empty() ? QString()
                                             : tr(", serial numbers at %1h").arg(QString::fromStdString(job.serialAddress)));
  if (!job.database.empty()) {
    text += tr("<br>Records in the database %1")
                .arg(QString::fromStdString(WithoutPassword(job.database)).toHtmlEscaped());
  }
  if (editor_->FirmwareChanged()) {
    text += tr("<br><b>%1 changed on disk after the station opened: it does not start until the line lead "
               "reloads the job.</b>")
                .arg(QString::fromStdString(f.name).toHtmlEscaped());
  }
  operatorJob_->setText(text);
}

void StationWindow::closeEvent(QCloseEvent* event) {
  if (Running()) {
    event->ignore();
    if (!closePending_ && askStopAndClose && askStopAndClose()) {
      closePending_ = true;
      Stop();
    }
    return;
  }
  if (mode_ == Mode::Edit && modified_ && !quitting_ && askSaveChanges) {
    const int answer = askSaveChanges();
    if (answer == QMessageBox::Cancel || (answer == QMessageBox::Save && !Save())) {
      event->ignore();
      return;
    }
  }
  event->accept();
}

}  // namespace varnel::station
