// Target properties dialog: layout and form rules.
#include "project/TF_Properties.h"

#include "core/BaudRates.h"
#include "core/Memories.h"
#include "core/ResetSequence.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStyleOptionFrame>
#include <QValidator>
#include <QVBoxLayout>
#include <tuple>

#include "link/HexText.h"

namespace varnel {
namespace {

QString Latin1(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// Upper-cases what is typed, as the range edits of the loader's hex fields
// want; the length limit is the edit's own.
class UpperCase : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int&) const override {
    input = input.toUpper();
    return Acceptable;
  }
};

const char* const kHcr0Bits[] = {"0-DFSEL0", "1-DFSEL1", "2-DFSEL2", "3-EWDR",
                                 "4-EBR",    "5-RSL",    "6-PML",    "7-EPMA"};
const char* const kHcr1Bits[] = {"0-EGP23",   "1-EGP0",    "2-DDB",     "3-DAB",
                                 "4-ABLSEL0", "5-ABLSEL1", "6-DBLSEL0", "7-DBLSEL1"};

template <typename W>
W* Named(W* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

QLineEdit* Edit(QWidget* parent, const char* name, int maxLength, bool upper) {
  auto* edit = Named(new QLineEdit(parent), name);
  if (maxLength > 0) {
    edit->setMaxLength(maxLength);
    // Wide enough for its longest text, so no digit is ever hidden.
    const QString widest(maxLength, QLatin1Char('W'));
    edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(widest) + 12);
  }
  if (upper) edit->setValidator(new UpperCase(edit));
  return edit;
}

QListWidget* BitList(QWidget* parent, const char* name, const char* const* items) {
  auto* list = Named(new QListWidget(parent), name);
  for (int i = 0; i < 8; ++i) {
    auto* item = new QListWidgetItem(QString::fromLatin1(items[i]), list);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
    item->setCheckState(Qt::Unchecked);
  }
  // All eight items in view, none cut: the list is as large as its texts.
  list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  const int frame = 2 * list->frameWidth();
  list->setFixedSize(list->sizeHintForColumn(0) + frame + 4, 8 * list->sizeHintForRow(0) + frame);
  return list;
}

}  // namespace

PathEdit::PathEdit(QWidget* parent) : QLineEdit(parent) {
  connect(this, &QLineEdit::textChanged, this, [this](const QString& path) { setToolTip(path); });
}

QRect PathEdit::TextRect() const {
  QStyleOptionFrame panel;
  initStyleOption(&panel);
  const QRect contents = style()->subElementRect(QStyle::SE_LineEditContents, &panel, this);
  // The line edit keeps two pixels clear on either side of its text.
  return contents.marginsRemoved(textMargins()).adjusted(2, 0, -2, 0);
}

QString PathEdit::ShownText() const {
  const QString path = text();
  const int room = TextRect().width();
  if (hasFocus() || fontMetrics().horizontalAdvance(path) <= room) return path;
  return fontMetrics().elidedText(path, Qt::ElideMiddle, room);
}

void PathEdit::paintEvent(QPaintEvent* event) {
  const QString shown = ShownText();
  if (shown == text()) {
    QLineEdit::paintEvent(event);
    return;
  }
  QPainter painter(this);
  QStyleOptionFrame panel;
  initStyleOption(&panel);
  style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &painter, this);
  const QRect area = TextRect();
  painter.setClipRect(area);
  painter.setPen(palette().color(isEnabled() ? QPalette::Normal : QPalette::Disabled,
                                 QPalette::Text));
  painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, shown);
}

TF_Properties::TF_Properties(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("F_Properties"));
  setWindowTitle(QStringLiteral("Target properties"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  resize(396, 371);

  // Port setup
  auto* port = Named(new QGroupBox(QStringLiteral("Port setup "), this), "GroupPort");
  auto* portGrid = new QGridLayout(port);
  ComboPort = Named(new QComboBox(port), "ComboPort");
  ComboPort->setEditable(true);
  ComboSpeed = Named(new QComboBox(port), "ComboSpeed");
  ComboSpeed->setEditable(true);
  for (const BaudRateInfo& row : OfferedBaudRates()) ComboSpeed->addItem(QString::fromLatin1(row.text));
  ComboSpeed->setCurrentIndex(-1);
  ComboSpeed->setEditText(QString());
  ComboPort->setEditText(QString());
  // Stable adapter names are long: they do not widen the dialog, the list
  // cuts them in the middle, and the box shows its whole text as a tool tip.
  ComboPort->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  ComboPort->view()->setTextElideMode(Qt::ElideMiddle);
  connect(ComboPort, &QComboBox::currentTextChanged, ComboPort,
          [combo = ComboPort](const QString& text) { combo->setToolTip(text); });
  CheckDTR = Named(new QCheckBox(QStringLiteral("enable"), port), "CheckDTR");
  portGrid->addWidget(new QLabel(QStringLiteral("Port:"), port), 0, 0);
  portGrid->addWidget(ComboPort, 0, 1);
  portGrid->addWidget(new QLabel(QStringLiteral("RTS/DTR"), port), 0, 2);
  portGrid->addWidget(new QLabel(QStringLiteral("Speed:"), port), 1, 0);
  portGrid->addWidget(ComboSpeed, 1, 1);
  auto* dtrBox = new QVBoxLayout;
  dtrBox->addWidget(new QLabel(QStringLiteral("control:"), port));
  dtrBox->addWidget(CheckDTR);
  portGrid->addLayout(dtrBox, 1, 2);
  // The board's reset, beside the control it belongs to: the presets, or
  // steps typed in.
  Cmb_ResetSeq = Named(new QComboBox(port), "Cmb_ResetSeq");
  Cmb_ResetSeq->setEditable(true);
  Cmb_ResetSeq->addItems({QString::fromLatin1(kResetPulse), QString::fromLatin1(kResetPulseInverted)});
  Cmb_ResetSeq->setCurrentIndex(-1);
  Cmb_ResetSeq->setEditText(QString());
  Cmb_ResetSeq->lineEdit()->setPlaceholderText(QString::fromLatin1(kResetPulse));
  Cmb_ResetSeq->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  Cmb_ResetSeq->setToolTip(QStringLiteral(
      "Reset sequence: steps separated by commas, dtr=1, dtr=0, rts=1, rts=0, break=MS "
      "or a wait in ms (e.g. dtr=0,rts=1,100,rts=0); empty: pulse"));
  auto* resetLabel = Named(new QLabel(QStringLiteral("Reset:"), port), "Lbl_ResetSeq");
  resetLabel->setBuddy(Cmb_ResetSeq);
  portGrid->addWidget(resetLabel, 2, 0);
  portGrid->addWidget(Cmb_ResetSeq, 2, 1, 1, 2);
  connect(CheckDTR, &QCheckBox::toggled, this, [this] { CheckDTRClick(); });

  // SP1 config: the two registers bit by bit
  auto* cfg = Named(new QGroupBox(QStringLiteral("SP1 config "), this), "GroupConfig");
  auto* cfgGrid = new QGridLayout(cfg);
  Lbl_HCR0 = Named(new QLabel(QStringLiteral("00h"), cfg), "Lbl_HCR0");
  Lbl_HCR1 = Named(new QLabel(QStringLiteral("00h"), cfg), "Lbl_HCR1");
  CheckHCR0 = BitList(cfg, "CheckHCR0", kHcr0Bits);
  CheckHCR1 = BitList(cfg, "CheckHCR1", kHcr1Bits);
  cfgGrid->addWidget(new QLabel(QStringLiteral("HCR0:"), cfg), 0, 0);
  cfgGrid->addWidget(Lbl_HCR0, 0, 1);
  cfgGrid->addWidget(new QLabel(QStringLiteral("HCR1:"), cfg), 0, 2);
  cfgGrid->addWidget(Lbl_HCR1, 0, 3);
  cfgGrid->addWidget(CheckHCR0, 1, 0, 1, 2);
  cfgGrid->addWidget(CheckHCR1, 1, 2, 1, 2);
  connect(CheckHCR0, &QListWidget::itemChanged, this, [this] { CheckHCR0Click(); });
  connect(CheckHCR1, &QListWidget::itemChanged, this, [this] { CheckHCR1Click(); });

  // File to download, list file
  auto* files = Named(new QGroupBox(QStringLiteral("File to download , LST file "), this),
                      "GroupFiles");
  auto* filesGrid = new QGridLayout(files);
  Edt_HexFile = Named(new PathEdit(files), "Edt_HexFile");
  Edt_LstFile = Named(new PathEdit(files), "Edt_LstFile");
  auto* pickHex = Named(new QPushButton(QStringLiteral("..."), files), "SpeedButton1");
  auto* pickLst = Named(new QPushButton(QStringLiteral("..."), files), "SpeedButton2");
  for (auto* b : {pickHex, pickLst}) {
    b->setAutoDefault(false);
    b->setFixedWidth(24);
  }
  filesGrid->addWidget(new QLabel(QStringLiteral("Hex,Bin"), files), 0, 0);
  filesGrid->addWidget(Edt_HexFile, 0, 1);
  filesGrid->addWidget(pickHex, 0, 2);
  filesGrid->addWidget(new QLabel(QStringLiteral("Lst"), files), 1, 0);
  filesGrid->addWidget(Edt_LstFile, 1, 1);
  filesGrid->addWidget(pickLst, 1, 2);
  connect(pickHex, &QPushButton::clicked, this, [this] { SpeedButton1Click(); });
  connect(pickLst, &QPushButton::clicked, this, [this] { SpeedButton2Click(); });

  // Upload selection
  auto* upload = Named(new QGroupBox(QStringLiteral("Upload selection "), this), "GroupUpload");
  auto* upGrid = new QGridLayout(upload);
  auto row = [&](int r, QCheckBox* check, QLineEdit* from, QLineEdit* to) {
    auto* toLabel = new QLabel(QStringLiteral("to"), upload);
    auto* hexLabel = new QLabel(QStringLiteral("hex"), upload);
    upGrid->addWidget(check, r, 0);
    upGrid->addWidget(from, r, 1);
    upGrid->addWidget(toLabel, r, 2);
    upGrid->addWidget(to, r, 3);
    upGrid->addWidget(hexLabel, r, 4);
    selectionWidgets_ << check << from << to << toLabel << hexLabel;
  };
  CheckCode = Named(new QCheckBox(QStringLiteral("Code from"), upload), "CheckCode");
  CheckSFR = Named(new QCheckBox(QStringLiteral("SFR  from"), upload), "CheckSFR");
  CheckIRAM = Named(new QCheckBox(QStringLiteral("IRAM from"), upload), "CheckIRAM");
  CheckExtRAM = Named(new QCheckBox(QStringLiteral("Ext.RAM"), upload), "CheckExtRAM");
  Edt_CodeMin = Edit(upload, "Edt_CodeMin", 4, true);
  Edt_CodeMax = Edit(upload, "Edt_CodeMax", 4, true);
  Edt_SFRMin = Edit(upload, "Edt_SFRMin", 2, true);
  Edt_SFRMax = Edit(upload, "Edt_SFRMax", 2, true);
  Edt_IRAMMin = Edit(upload, "Edt_IRAMMin", 0, false);
  Edt_IRAMMax = Edit(upload, "Edt_IRAMMax", 0, false);
  Edt_ExtMin = Edit(upload, "Edt_ExtMin", 4, true);
  Edt_ExtMax = Edit(upload, "Edt_ExtMax", 4, true);
  row(0, CheckCode, Edt_CodeMin, Edt_CodeMax);
  row(1, CheckSFR, Edt_SFRMin, Edt_SFRMax);
  row(2, CheckIRAM, Edt_IRAMMin, Edt_IRAMMax);
  row(3, CheckExtRAM, Edt_ExtMin, Edt_ExtMax);
  CheckDefault = Named(new QCheckBox(QStringLiteral("Use default selection (All)"), upload),
                       "CheckDefault");
  upGrid->addWidget(CheckDefault, 4, 0, 1, 5);
  connect(CheckDefault, &QCheckBox::clicked, this, [this] { CheckDefaultClick(); });
  for (auto* check : {CheckCode, CheckSFR, CheckIRAM, CheckExtRAM}) check->setChecked(true);
  for (auto [from, to, kind] : {std::tuple{Edt_CodeMin, Edt_CodeMax, MemoryKind::Code},
                                std::tuple{Edt_SFRMin, Edt_SFRMax, MemoryKind::SFR},
                                std::tuple{Edt_IRAMMin, Edt_IRAMMax, MemoryKind::IRAM},
                                std::tuple{Edt_ExtMin, Edt_ExtMax, MemoryKind::ExtRAM}}) {
    from->setText(Latin1(DefaultFirstText(kind)));
    to->setText(Latin1(DefaultLastText(kind)));
  }

  // Programming
  auto* prog = Named(new QGroupBox(QStringLiteral("Programming "), this), "GroupProgramming");
  auto* progGrid = new QGridLayout(prog);
  CheckErase0 = Named(new QCheckBox(QStringLiteral("Mass Erase Flash"), prog), "CheckErase0");
  CheckErase1 = Named(new QCheckBox(QStringLiteral("Erase SP1 (HCRx)"), prog), "CheckErase1");
  CheckProg1 = Named(new QCheckBox(QStringLiteral("Prog. HCR0,HCR1"), prog), "CheckProg1");
  CheckProg0 = Named(new QCheckBox(QStringLiteral("Prog. Code from"), prog), "CheckProg0");
  CheckVerify = Named(new QCheckBox(QStringLiteral("Verify prog."), prog), "CheckVerify");
  Edt_ProgMin = Edit(prog, "Edt_ProgMin", 4, true);
  Edt_ProgMax = Edit(prog, "Edt_ProgMax", 4, true);
  Edt_ProgMin->setText(Latin1(DefaultFirstText(MemoryKind::Code)));
  for (auto* check : {CheckErase0, CheckErase1, CheckProg1, CheckProg0}) check->setChecked(true);
  progGrid->addWidget(CheckErase0, 0, 0, 1, 2);
  progGrid->addWidget(CheckErase1, 0, 2, 1, 3);
  progGrid->addWidget(CheckProg1, 1, 0, 1, 2);
  progGrid->addWidget(CheckVerify, 1, 2, 1, 3);
  progGrid->addWidget(CheckProg0, 2, 0);
  progGrid->addWidget(Edt_ProgMin, 2, 1);
  progGrid->addWidget(new QLabel(QStringLiteral("to"), prog), 2, 2);
  progGrid->addWidget(Edt_ProgMax, 2, 3);

  // Crystal frequency
  auto* xtal = Named(new QGroupBox(QStringLiteral("Xtal freq. [MHz]"), this), "GroupXtal");
  auto* xtalGrid = new QGridLayout(xtal);
  Edt_RealClk = Edit(xtal, "Edt_RealClk", 0, false);
  Edt_RealClk->setText(QStringLiteral("4"));
  Edt_AutoClk = Edit(xtal, "Edt_AutoClk", 0, false);
  auto* realLabel = new QLabel(QStringLiteral("Real freq."), xtal);
  auto* autoLabel = new QLabel(QStringLiteral("Comp.freq."), xtal);
  CheckManual = Named(new QCheckBox(QStringLiteral("Use manual entry (real freq.)"), xtal),
                      "CheckManual");
  xtalGrid->addWidget(realLabel, 0, 0);
  xtalGrid->addWidget(Edt_RealClk, 0, 1);
  xtalGrid->addWidget(autoLabel, 0, 2);
  xtalGrid->addWidget(Edt_AutoClk, 0, 3);
  xtalGrid->addWidget(CheckManual, 1, 0, 1, 4);
  manualWidgets_ << Edt_RealClk << realLabel;
  autoWidgets_ << Edt_AutoClk << autoLabel;
  connect(CheckManual, &QCheckBox::clicked, this, [this] { CheckManualClick(); });

  // Buttons: neither is the default or the cancel button; Alt+O / Alt+C.
  auto* ok = Named(new QPushButton(QStringLiteral("&Ok"), this), "Btn_Ok");
  auto* cancel = Named(new QPushButton(QStringLiteral("&Cancel"), this), "Btn_Cancel");
  for (auto* b : {ok, cancel}) {
    b->setAutoDefault(false);
    b->setDefault(false);
  }
  connect(ok, &QPushButton::clicked, this, [this] { Btn_OkClick(); });
  connect(cancel, &QPushButton::clicked, this, [this] { Btn_CancelClick(); });

  auto* left = new QVBoxLayout;
  left->addWidget(port);
  left->addWidget(cfg);
  left->addWidget(files);
  left->addStretch();
  auto* right = new QVBoxLayout;
  right->addWidget(upload);
  right->addWidget(prog);
  right->addWidget(xtal);
  right->addStretch();
  auto* columns = new QHBoxLayout;
  columns->addLayout(left);
  columns->addLayout(right);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(ok);
  buttons->addStretch();
  buttons->addWidget(cancel);
  auto* all = new QVBoxLayout(this);
  all->addLayout(columns);
  all->addLayout(buttons);

  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

void TF_Properties::SetProjectName(const QString& fileName) {
  setWindowTitle(QStringLiteral("Target properties - ") + fileName);
}

namespace {
QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string S(const QString& text) { return text.toStdString(); }
}  // namespace

void TF_Properties::Fill(const PropertyValues& v, FillMode mode) {
  // A stored port that is not plugged in now stays in the box as text, so
  // confirming the dialog for another change keeps it.
  SelectExact(ComboPort, Q(v.Port));
  if (ComboPort->currentIndex() < 0) ComboPort->setEditText(Q(v.Port));
  if (mode == FillMode::Configure) {
    SelectExact(ComboSpeed, Q(v.Baud));
    Edt_IRAMMin->setText(Q(v.IRAMMin));
    Edt_IRAMMax->setText(Q(v.IRAMMax));
  }
  Lbl_HCR0->setText(Q(v.HCR0));
  Lbl_HCR1->setText(Q(v.HCR1));
  Edt_RealClk->setText(Q(v.RealClk));
  CheckManual->setChecked(v.ManualClk);
  CheckDTR->setChecked(v.ControlDTR);
  SelectExact(Cmb_ResetSeq, Q(v.ResetSequence));
  if (Cmb_ResetSeq->currentIndex() < 0) Cmb_ResetSeq->setEditText(Q(v.ResetSequence));
  Cmb_ResetSeq->lineEdit()->setCursorPosition(0);  // a long sequence shows its start
  Edt_HexFile->setText(Q(v.HexBin));
  Edt_LstFile->setText(Q(v.Lst));
  Edt_CodeMin->setText(Q(v.CodeMin));
  Edt_CodeMax->setText(Q(v.CodeMax));
  Edt_SFRMin->setText(Q(v.SFRMin));
  Edt_SFRMax->setText(Q(v.SFRMax));
  Edt_ExtMin->setText(Q(v.ExtMin));
  Edt_ExtMax->setText(Q(v.ExtMax));
  Edt_ProgMin->setText(Q(v.ProgMin));
  Edt_ProgMax->setText(Q(v.ProgMax));
  CheckDefault->setChecked(v.Default);
  CheckCode->setChecked(v.UploadCode);
  CheckExtRAM->setChecked(v.UploadExtRAM);
  CheckSFR->setChecked(v.UploadSFR);
  CheckErase0->setChecked(v.MassErase);
  CheckErase1->setChecked(v.ErasePS1);
  CheckProg0->setChecked(v.ProgFlash);
  CheckProg1->setChecked(v.ProgPS1);
  CheckVerify->setChecked(v.Verify);
  Edt_HexFile->setCursorPosition(Edt_HexFile->text().size());
  Edt_LstFile->setCursorPosition(Edt_LstFile->text().size());
}

void TF_Properties::SetComputedClock(std::int32_t coreClockHz) {
  QLocale locale;
  locale.setNumberOptions(QLocale::OmitGroupSeparator);
  Edt_AutoClk->setText(locale.toString(coreClockHz / 1000000.0, 'g', 15));
}

PropertyValues TF_Properties::Values() const {
  PropertyValues v;
  v.Port = S(ComboPort->currentText());
  v.Baud = S(ComboSpeed->currentText());
  v.HCR0 = S(Lbl_HCR0->text());
  v.HCR1 = S(Lbl_HCR1->text());
  v.RealClk = S(Edt_RealClk->text());
  v.ManualClk = CheckManual->isChecked();
  v.ControlDTR = CheckDTR->isChecked();
  v.ResetSequence = S(Cmb_ResetSeq->currentText().trimmed());
  v.HexBin = S(Edt_HexFile->text());
  v.Lst = S(Edt_LstFile->text());
  v.CodeMin = S(Edt_CodeMin->text());
  v.CodeMax = S(Edt_CodeMax->text());
  v.SFRMin = S(Edt_SFRMin->text());
  v.SFRMax = S(Edt_SFRMax->text());
  v.IRAMMin = S(Edt_IRAMMin->text());
  v.IRAMMax = S(Edt_IRAMMax->text());
  v.ExtMin = S(Edt_ExtMin->text());
  v.ExtMax = S(Edt_ExtMax->text());
  v.ProgMin = S(Edt_ProgMin->text());
  v.ProgMax = S(Edt_ProgMax->text());
  v.Default = CheckDefault->isChecked();
  v.UploadCode = CheckCode->isChecked();
  v.UploadExtRAM = CheckExtRAM->isChecked();
  v.UploadSFR = CheckSFR->isChecked();
  v.MassErase = CheckErase0->isChecked();
  v.ErasePS1 = CheckErase1->isChecked();
  v.ProgFlash = CheckProg0->isChecked();
  v.ProgPS1 = CheckProg1->isChecked();
  v.Verify = CheckVerify->isChecked();
  return v;
}

void TF_Properties::SelectExact(QComboBox* combo, const QString& text) {
  const int index = combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
  combo->setCurrentIndex(index);
  if (index < 0) combo->setEditText(QString());
}

void TF_Properties::ComputeBitsHCR() {
  for (auto [label, list] : {std::pair{Lbl_HCR0, CheckHCR0}, std::pair{Lbl_HCR1, CheckHCR1}}) {
    const int value = DecPrev(label->text().left(2).toLatin1().toStdString());
    const QSignalBlocker block(list);  // filling is no click: the label stays as stored
    for (int bit = 0; bit < 8; ++bit) {
      if (value & (1 << bit)) list->item(bit)->setCheckState(Qt::Checked);
    }
  }
}

void TF_Properties::BitsToLabel(QListWidget* list, QLabel* label) {
  int value = 0;
  for (int bit = 7; bit >= 0; --bit) {
    value = value * 2 + (list->item(bit)->checkState() == Qt::Checked ? 1 : 0);
  }
  label->setText(QString::fromStdString(HDPrev(value)) + QLatin1Char('h'));
}

void TF_Properties::CheckHCR0Click() { BitsToLabel(CheckHCR0, Lbl_HCR0); }
void TF_Properties::CheckHCR1Click() { BitsToLabel(CheckHCR1, Lbl_HCR1); }

void TF_Properties::CheckDefaultClick() {
  const bool enabled = !CheckDefault->isChecked();
  for (QWidget* w : selectionWidgets_) w->setEnabled(enabled);
}

void TF_Properties::CheckManualClick() {
  const bool manual = CheckManual->isChecked();
  for (QWidget* w : manualWidgets_) w->setEnabled(manual);
  for (QWidget* w : autoWidgets_) w->setEnabled(!manual);
}

void TF_Properties::CheckDTRClick() { Cmb_ResetSeq->setEnabled(CheckDTR->isChecked()); }

void TF_Properties::showEvent(QShowEvent* event) {
  ComputeBitsHCR();
  CheckManualClick();
  CheckDefaultClick();
  CheckDTRClick();
  QDialog::showEvent(event);
}

void TF_Properties::keyPressEvent(QKeyEvent* event) {
  // Enter and Escape do not close the form; only its two buttons do.
  if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return ||
      event->key() == Qt::Key_Enter) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TF_Properties::Btn_OkClick() {
  // A sequence that cannot run would only show at the next connect; the
  // board's wiring is best fixed while the dialog is still open.
  try {
    ParseResetSequence(S(Cmb_ResetSeq->currentText()));
  } catch (const ResetSequenceError& e) {
    if (Refuse()) Refuse()(this, QString::fromStdString(e.what()));
    Cmb_ResetSeq->setFocus();
    return;
  }
  accept();
}

TF_Properties::Refusal& TF_Properties::Refuse() {
  static Refusal refusal = [](QWidget* parent, const QString& why) {
    QMessageBox::critical(parent, QStringLiteral("Error"), why);
  };
  return refusal;
}
void TF_Properties::Btn_CancelClick() { reject(); }

TF_Properties::FilePicker& TF_Properties::Picker() {
  static FilePicker picker = [](QWidget* parent, const QString& dir, const QStringList& filters) {
    QFileDialog dialog(parent, QString(), dir);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilters(filters);
    // Picking another type swaps the typed name's extension, never more.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& f) {
      if (auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
        edit->setText(SwapExtensionForFilter(edit->text(), f));
      }
    });
    return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()
               ? dialog.selectedFiles().first()
               : QString();
  };
  return picker;
}

void TF_Properties::PickInto(QLineEdit* field, const QStringList& filters) {
  const QString dir =
      field->text().isEmpty() ? WorkDir : QFileInfo(field->text()).absolutePath();
  const QString chosen = Picker() ? Picker()(this, dir, filters) : QString();
  if (chosen.isEmpty()) return;
  field->setText(QFileInfo(chosen).absoluteFilePath());
  field->setCursorPosition(field->text().size());
}

void TF_Properties::SpeedButton1Click() {
  PickInto(Edt_HexFile, {QStringLiteral("Intel hex (*.hex)"), QStringLiteral("Binary (*.bin)"),
                         QStringLiteral("All (*.*)")});
}

void TF_Properties::SpeedButton2Click() {
  PickInto(Edt_LstFile, {QStringLiteral("Asm list (*.lst)"), QStringLiteral("All (*.*)")});
}

QString SwapExtensionForFilter(const QString& name, const QString& filter) {
  static const QRegularExpression pattern(QStringLiteral("\\*\\.([A-Za-z0-9_]+)"));
  const auto match = pattern.match(filter);
  if (!match.hasMatch()) return name;  // "*.*": any type, any name
  const int slash = name.lastIndexOf(QLatin1Char('/'));
  const int dot = name.lastIndexOf(QLatin1Char('.'));
  if (dot <= slash + 1) return name;  // no extension to swap (".profile" has none)
  return name.left(dot + 1) + match.captured(1);
}

}  // namespace varnel

namespace varnel {

std::optional<PropertyValues> TF_Properties::Run(const PropertiesRequest& request,
                                                 QWidget* parent,
                                                 const std::function<bool(TF_Properties&)>& show) {
  TF_Properties dialog(parent);
  if (!request.projectPath.empty()) {
    dialog.SetProjectName(QFileInfo(QString::fromStdString(request.projectPath)).fileName());
  }
  dialog.WorkDir = QString::fromStdString(request.workDir);
  for (const auto& name : request.ports) dialog.ComboPort->addItem(QString::fromStdString(name));
  dialog.ComboPort->setCurrentIndex(-1);
  dialog.Fill(request.values, request.mode == PropertiesRequest::Mode::NewProject
                                  ? FillMode::NewProject
                                  : FillMode::Configure);
  dialog.SetComputedClock(request.coreClockHz);
  const bool confirmed = show ? show(dialog) : dialog.exec() == QDialog::Accepted;
  if (!confirmed) return std::nullopt;
  return dialog.Values();
}

QStringList OpenFilters() {
  return {QStringLiteral("Intel hex (*.hex)"), QStringLiteral("Binary (*.bin)"),
          QStringLiteral("Project (*.prj)"), QStringLiteral("All (*.*)")};
}

QStringList NewFilters() { return {QStringLiteral("Project (*.prj)")}; }

std::string ChooseFileWithDialog(FileChoice choice, const std::string& startDir,
                                 QWidget* parent) {
  const bool isNew = choice == FileChoice::NewProject;
  QFileDialog dialog(parent, QString(), QString::fromStdString(startDir));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setNameFilters(isNew ? NewFilters() : OpenFilters());
  // A picking dialog whose typed name follows the chosen type's extension.
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& f) {
    if (auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
      edit->setText(SwapExtensionForFilter(edit->text(), f));
    }
  });
  if (isNew) {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("prj"));
    dialog.setOption(QFileDialog::DontConfirmOverwrite);  // no question for an existing file
  } else {
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QStringLiteral("hex"));
  }
  const bool picked = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
  return picked ? dialog.selectedFiles().first().toStdString() : std::string();
}

}  // namespace varnel
