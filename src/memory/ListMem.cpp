// Memory view window and its dump text control.
#include "memory/ListMem.h"

#include <QAction>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QMenu>
#include <QPainter>
#include <QShowEvent>
#include <QTextBlock>
#include <algorithm>
#include <stdexcept>
#include <string_view>

#include "core/FileBytes.h"
#include "memory/DumpLine.h"
#include "programming/IntelHex.h"

namespace varnel {
namespace {

constexpr int kDumpPixelSize = 12;

// Latin-1 keeps one character per byte, so FFh is a visible character and
// the columns stay aligned. Only the soft hyphen (ADh) would be drawn with
// no width at all; it shows as a hyphen of its own.
QChar ShownCharacter(unsigned char byte) {
  return byte == 0xAD ? QChar(0x2010) : QChar(byte);
}

// How many of the characters a dump line can hold advance by another width
// than the digit 0: the hex digits, the blank, the hyphen of " - " and every
// character of the character column. A family's name or its fixed-pitch
// flag says less than this: an alias may stand for another family, and a
// glyph missing from the font is drawn from a fallback font.
int MisalignedCharacters(const QFont& font) {
  const QFontMetricsF metrics(font);
  const qreal width = metrics.horizontalAdvance(QLatin1Char('0'));
  if (width <= 0) return 0x1000;
  int misaligned = 0;
  for (const char c : std::string_view("123456789ABCDEF -")) {
    misaligned += metrics.horizontalAdvance(QLatin1Char(c)) != width;
  }
  for (unsigned byte = 0x14; byte <= 0xFF; ++byte) {
    misaligned += metrics.horizontalAdvance(ShownCharacter(static_cast<unsigned char>(byte))) != width;
  }
  return misaligned;
}

QFont DumpFontOf(const QString& family) {
  QFont font(family);
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setPixelSize(kDumpPixelSize);
  return font;
}

// The desktop's own fixed font first, then the common fixed-pitch families;
// the first that aligns every column wins, else the one that misaligns the
// fewest characters.
QString ChooseDumpFamily() {
  QStringList families{QFontDatabase::systemFont(QFontDatabase::FixedFont).family()};
  for (const char* family : {"Courier New", "Courier", "DejaVu Sans Mono", "Liberation Mono",
                             "Noto Sans Mono", "Nimbus Mono PS", "FreeMono", "monospace"}) {
    families << QString::fromLatin1(family);
  }
  QString best = families.front();
  int fewest = MisalignedCharacters(DumpFontOf(best));
  for (const QString& family : families) {
    if (fewest == 0) break;
    const int misaligned = MisalignedCharacters(DumpFontOf(family));
    if (misaligned < fewest) {
      best = family;
      fewest = misaligned;
    }
  }
  return best;
}

}  // namespace

DumpEdit::DumpEdit(QWidget* parent) : QPlainTextEdit(parent) {
  setObjectName("SyntaxEdit1");
  setReadOnly(true);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setUndoRedoEnabled(false);
  static const QString family = ChooseDumpFamily();  // fonts do not change while the program runs
  setFont(DumpFontOf(family));
}

int DumpEdit::MarginX() const {
  const qreal x = contentOffset().x() + document()->documentMargin() +
                  kDumpMarginColumn * QFontMetricsF(font()).horizontalAdvance(QLatin1Char('0'));
  return static_cast<int>(x);
}

void DumpEdit::paintEvent(QPaintEvent* event) {
  QPlainTextEdit::paintEvent(event);
  QPainter painter(viewport());
  painter.setPen(QColor(Qt::lightGray));
  const int x = MarginX();
  painter.drawLine(x, 0, x, viewport()->height());
}

ViewLayout ViewLayoutOf(MemoryKind kind, const ProjectSettingsRecord& settings) {
  switch (kind) {
    case MemoryKind::Code: {
      const std::int32_t last = settings.CodeMax > 0 ? settings.CodeMax : InfoOf(kind).lastDefault;
      return {1, InfoOf(kind).caption, 560, 370, 0, 0, last};
    }
    case MemoryKind::SFR:
      return {2, InfoOf(kind).caption, 560, 300, 0, 75, settings.SFRMax};
    case MemoryKind::ExtRAM:
      return {3, InfoOf(kind).caption, 560, 370, 0, 25, settings.ExtMax};
    case MemoryKind::Cfg:
      return {4, InfoOf(kind).caption, 532, 180, 0, 100, InfoOf(kind).lastDefault};
    case MemoryKind::IRAM:
      return {5, InfoOf(kind).caption, 560, 300, 0, 50, settings.IRAMMax};
  }
  return {0, "", 0, 0, 0, 0, 0};
}

TF_ListMem::TF_ListMem(const MemoryImage& image, MemoryKind kind, std::int32_t lastAddress,
                       QWidget* parent)
    : QMdiSubWindow(parent),
      image_(image),
      kind_(kind),
      lastAddress_(std::clamp<std::int32_t>(lastAddress, 0,
                                            static_cast<std::int32_t>(image.Size()) - 1)),
      edit_(new DumpEdit(this)),
      saveHex_(new QAction(QStringLiteral("Save as Intel HEX..."), this)),
      saveBin_(new QAction(QStringLiteral("Save as binary..."), this)) {
  setObjectName("TF_ListMem");
  setAttribute(Qt::WA_DeleteOnClose);
  setWidget(edit_);

  saveHex_->setObjectName(QStringLiteral("SaveHex1"));
  saveBin_->setObjectName(QStringLiteral("SaveBin1"));
  connect(saveHex_, &QAction::triggered, this, &TF_ListMem::SaveHex1Click);
  connect(saveBin_, &QAction::triggered, this, &TF_ListMem::SaveBin1Click);
  if (QMenu* menu = systemMenu()) {
    menu->addSeparator();
    menu->addAction(saveHex_);
    menu->addAction(saveBin_);
  }
  edit_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(edit_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    QMenu* menu = CreateContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(edit_->viewport()->mapToGlobal(at));
  });
}

QMenu* TF_ListMem::CreateContextMenu() {
  QMenu* menu = edit_->createStandardContextMenu();
  menu->setObjectName(QStringLiteral("ViewMenu"));
  menu->addSeparator();
  menu->addAction(saveHex_);
  menu->addAction(saveBin_);
  return menu;
}

void TF_ListMem::SetPrompts(Prompts* prompts, std::function<std::string()> startFolder) {
  prompts_ = prompts;
  startFolder_ = std::move(startFolder);
}

std::vector<std::uint8_t> TF_ListMem::RangeBytes() const {
  const auto& cells = image_.Cells();
  const auto first = static_cast<std::size_t>(FirstAddress());
  const auto end = static_cast<std::size_t>(lastAddress_) + 1;  // cut at the image already
  return {cells.begin() + static_cast<std::ptrdiff_t>(first),
          cells.begin() + static_cast<std::ptrdiff_t>(end)};
}

std::string TF_ListMem::IntelHexText() const {
  const std::vector<std::uint8_t> bytes = RangeBytes();
  const std::uint32_t first = static_cast<std::uint32_t>(FirstAddress());
  return WriteIntelHex(bytes, InfoOf(kind_).targetBase + first);
}

bool TF_ListMem::SaveTo(const std::string& path, SaveFormat format) {
  std::string bytes;
  if (format == SaveFormat::IntelHex) {
    bytes = IntelHexText();
  } else {
    const std::vector<std::uint8_t> cells = RangeBytes();
    bytes.assign(cells.begin(), cells.end());
  }
  std::string error;
  if (ReplaceFileAtomically(path, bytes, &error)) return true;
  if (prompts_) {
    prompts_->MessageBox(MessageKind::Error,
                         std::string(InfoOf(kind_).caption) + " not saved. " + error);
  }
  return false;
}

void TF_ListMem::Save(SaveFormat format) {
  if (!prompts_) return;
  const bool hex = format == SaveFormat::IntelHex;
  std::string start = startFolder_ ? startFolder_() : std::string();
  if (!start.empty() && start.back() != '/') start += '/';
  start += std::string(InfoOf(kind_).shortName) + (hex ? ".hex" : ".bin");
  const std::string path =
      prompts_->ChooseFile(hex ? FileChoice::SaveIntelHex : FileChoice::SaveBinary, start);
  if (!path.empty()) SaveTo(path, format);
}

void TF_ListMem::SaveHex1Click() { Save(SaveFormat::IntelHex); }
void TF_ListMem::SaveBin1Click() { Save(SaveFormat::Binary); }

std::string TF_ListMem::DumpText() const {
  std::string text;
  const int lines = LineCount();
  text.reserve(static_cast<std::size_t>(lines) * (kDumpLineLength + 1));
  for (int n = 0; n < lines; ++n) {
    if (n > 0) text.push_back('\n');
    AppendDumpLine(text, image_, 16 * n);
  }
  return text;
}

void TF_ListMem::RefreshData() {
  const std::string text = DumpText();
  QString shown(static_cast<qsizetype>(text.size()), Qt::Uninitialized);
  std::transform(text.begin(), text.end(), shown.begin(),
                 [](char c) { return ShownCharacter(static_cast<unsigned char>(c)); });
  edit_->setUpdatesEnabled(false);
  edit_->setPlainText(shown);
  edit_->setUpdatesEnabled(true);
}

void TF_ListMem::showEvent(QShowEvent* event) {
  QMdiSubWindow::showEvent(event);
  if (!shown_) {
    shown_ = true;
    RefreshData();
  }
}

void TF_ListMem::closeEvent(QCloseEvent* event) {
  QMdiSubWindow::closeEvent(event);
  if (event->isAccepted()) emit Closed(kind_);
}

}  // namespace varnel
