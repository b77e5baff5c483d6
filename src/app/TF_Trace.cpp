// Serial trace window.
#include "app/TF_Trace.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/FileBytes.h"

namespace varnel {
namespace {

constexpr std::size_t kKeptChunks = 10000;
// Chunks arrive a few hundred a second during an upload; the list is drawn
// at most this often.
constexpr int kUpdateMs = 100;

}  // namespace

TF_Trace::TF_Trace(CommPort& port, Prompts& prompts, std::function<std::string()> startFolder,
                   QWidget* parent)
    : QMdiSubWindow(parent),
      port_(port),
      prompts_(prompts),
      startFolder_(std::move(startFolder)),
      log_(kKeptChunks) {
  setObjectName(QStringLiteral("TF_Trace"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("Serial trace"));

  auto* body = new QWidget(this);
  lines_ = new QPlainTextEdit(body);
  lines_->setObjectName(QStringLiteral("TraceLines"));
  lines_->setReadOnly(true);
  lines_->setLineWrapMode(QPlainTextEdit::NoWrap);
  lines_->setUndoRedoEnabled(false);
  lines_->setMaximumBlockCount(static_cast<int>(kKeptChunks));
  lines_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  clear_ = new QPushButton(QStringLiteral("Clear"), body);
  clear_->setObjectName(QStringLiteral("Btn_Clear"));
  save_ = new QPushButton(QStringLiteral("Save..."), body);
  save_->setObjectName(QStringLiteral("Btn_Save"));

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(clear_);
  buttons->addWidget(save_);
  buttons->addStretch(1);
  auto* layout = new QVBoxLayout(body);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(lines_, 1);
  layout->addLayout(buttons);
  setWidget(body);

  connect(clear_, &QPushButton::clicked, this, &TF_Trace::Btn_ClearClick);
  connect(save_, &QPushButton::clicked, this, &TF_Trace::Btn_SaveClick);
  update_.setSingleShot(true);
  update_.setInterval(kUpdateMs);
  connect(&update_, &QTimer::timeout, this, &TF_Trace::ShowNew);

  port_.SetTraceTap(this);
}

TF_Trace::~TF_Trace() {
  if (port_.Tap() == this) port_.SetTraceTap(nullptr);
}

void TF_Trace::Chunk(TraceDirection direction, std::string_view bytes) {
  log_.Chunk(direction, bytes);
  if (!update_.isActive()) update_.start();
}

void TF_Trace::ShowNew() {
  update_.stop();
  const auto& entries = log_.Entries();
  const std::size_t fresh = log_.Added() - shown_;
  shown_ = log_.Added();
  if (fresh == 0) return;
  std::string text;
  std::size_t from = 0;
  if (fresh >= entries.size()) {
    lines_->clear();  // everything shown before has left the log
  } else {
    from = entries.size() - fresh;
  }
  for (std::size_t i = from; i < entries.size(); ++i) {
    if (i > from) text += '\n';
    text += TraceLine(entries[i].milliseconds, entries[i].direction, entries[i].bytes);
  }
  // Trace text is printable ASCII: every other byte is escaped.
  lines_->appendPlainText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}

void TF_Trace::Btn_ClearClick() {
  log_.Clear();
  shown_ = log_.Added();
  update_.stop();
  lines_->clear();
}

void TF_Trace::Btn_SaveClick() {
  std::string start = startFolder_ ? startFolder_() : std::string();
  if (!start.empty() && start.back() != '/') start += '/';
  const std::string path = prompts_.ChooseFile(FileChoice::SaveTrace, start + "trace.txt");
  if (path.empty()) return;
  std::string error;
  if (!ReplaceFileAtomically(path, log_.Text(), &error)) {
    prompts_.MessageBox(MessageKind::Error, "Serial trace not saved. " + error);
  }
}

void TF_Trace::closeEvent(QCloseEvent* event) {
  QMdiSubWindow::closeEvent(event);
  if (event->isAccepted()) {
    // Closed means not listening, even before the window is gone.
    if (port_.Tap() == this) port_.SetTraceTap(nullptr);
    emit Closed();
  }
}

}  // namespace varnel
