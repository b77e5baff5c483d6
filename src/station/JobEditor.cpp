// The job editor.
#include "station/JobEditor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "link/CommTypes.h"
#include "station/PortChoices.h"

namespace varnel::station {
namespace {

constexpr int kNameRole = Qt::UserRole;

QString StateText(PortChoice::State state) {
  switch (state) {
    case PortChoice::State::Available: return QObject::tr("available");
    case PortChoice::State::Busy: return QObject::tr("busy");
    case PortChoice::State::NoPermission: return QObject::tr("no permission");
  }
  return {};
}

}  // namespace

JobEditor::JobEditor(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("JobEditor"));
  auto* form = new QFormLayout(this);
  form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);

  file_ = new QLineEdit(this);
  file_->setObjectName(QStringLiteral("JobFile"));
  auto* browseFile = new QPushButton(tr("Choose…"), this);
  browseFile->setObjectName(QStringLiteral("JobFileChoose"));
  form->addRow(tr("&Firmware:"), WithButton(file_, browseFile));
  facts_ = new QLabel(this);
  facts_->setObjectName(QStringLiteral("FirmwareFacts"));
  facts_->setWordWrap(true);
  facts_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  // The whole width: the hash is one long word, which sets the least
  // width of the editor whether a file is loaded yet or not.
  QFont hashFont(QStringLiteral("monospace"), -1);
  hashFont.setStyleHint(QFont::TypeWriter);
  hashFont.setPointSizeF(facts_->font().pointSizeF());
  facts_->setMinimumWidth(QFontMetrics(hashFont).horizontalAdvance(QString(64, QLatin1Char('0'))) + 8);
  form->addRow(facts_);

  changedBox_ = new QWidget(this);
  changedBox_->setObjectName(QStringLiteral("FirmwareChanged"));
  changedBox_->setAutoFillBackground(true);
  QPalette warn = changedBox_->palette();
  warn.setColor(QPalette::Window, QColor(0xff, 0xe0, 0x82));
  warn.setColor(QPalette::WindowText, Qt::black);
  changedBox_->setPalette(warn);
  auto* changedLayout = new QHBoxLayout(changedBox_);
  changedText_ = new QLabel(changedBox_);
  changedText_->setWordWrap(true);
  auto* reload = new QPushButton(tr("&Reload"), changedBox_);
  reload->setObjectName(QStringLiteral("FirmwareReload"));
  changedLayout->addWidget(changedText_, 1);
  changedLayout->addWidget(reload);
  changedBox_->hide();
  form->addRow(changedBox_);

  ports_ = new QListWidget(this);
  ports_->setObjectName(QStringLiteral("JobPorts"));
  ports_->setMinimumHeight(150);
  ports_->setTextElideMode(Qt::ElideMiddle);
  ports_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  ports_->setAlternatingRowColors(true);
  auto* refresh = new QPushButton(tr("Re&fresh"), this);
  refresh->setObjectName(QStringLiteral("PortsRefresh"));
  auto* portsBox = new QWidget(this);
  auto* portsLayout = new QVBoxLayout(portsBox);
  portsLayout->setContentsMargins(0, 0, 0, 0);
  portsLayout->addWidget(ports_);
  dialout_ = new QLabel(QString::fromUtf8(kDialoutHint), this);
  dialout_->setObjectName(QStringLiteral("DialoutHint"));
  dialout_->setWordWrap(true);
  dialout_->hide();
  portsLayout->addWidget(dialout_);
  portsLayout->addWidget(refresh, 0, Qt::AlignLeft);
  form->addRow(tr("&Ports:"), portsBox);

  baud_ = new QComboBox(this);
  baud_->setObjectName(QStringLiteral("JobBaud"));
  for (const BaudRateInfo& rate : kBaudRates) baud_->addItem(QString::fromLatin1(rate.text), rate.baud);
  form->addRow(tr("&Baud:"), baud_);

  reset_ = new QComboBox(this);
  reset_->setObjectName(QStringLiteral("JobReset"));
  reset_->setEditable(true);
  reset_->addItems({QString(), QStringLiteral("pulse"), QStringLiteral("pulse-inverted")});
  reset_->lineEdit()->setPlaceholderText(tr("none (or steps: dtr=1,rts=0,40,...)"));
  form->addRow(tr("R&eset sequence:"), reset_);

  verify_ = new QCheckBox(tr("Read back and compare after programming"), this);
  verify_->setObjectName(QStringLiteral("JobVerify"));
  form->addRow(tr("&Verify:"), verify_);

  serialAddress_ = new QLineEdit(this);
  serialAddress_->setObjectName(QStringLiteral("JobSerialAddress"));
  serialAddress_->setPlaceholderText(tr("none (hex address, e.g. 7FF0)"));
  form->addRow(tr("&Serial address:"), serialAddress_);
  serialLength_ = new QSpinBox(this);
  serialLength_->setObjectName(QStringLiteral("JobSerialLength"));
  serialLength_->setRange(1, 20);
  serialFormat_ = new QComboBox(this);
  serialFormat_->setObjectName(QStringLiteral("JobSerialFormat"));
  serialFormat_->addItem(tr("binary, little-endian"), QStringLiteral("le"));
  serialFormat_->addItem(tr("binary, big-endian"), QStringLiteral("be"));
  serialFormat_->addItem(tr("decimal digits"), QStringLiteral("ascii"));
  auto* serialRow = new QWidget(this);
  auto* serialLayout = new QHBoxLayout(serialRow);
  serialLayout->setContentsMargins(0, 0, 0, 0);
  serialLayout->addWidget(serialLength_);
  serialLayout->addWidget(new QLabel(tr("bytes as"), serialRow));
  serialLayout->addWidget(serialFormat_, 1);
  form->addRow(tr("Serial &length:"), serialRow);
  serialFile_ = new QLineEdit(this);
  serialFile_->setObjectName(QStringLiteral("JobSerialFile"));
  auto* browseSerial = new QPushButton(tr("Choose…"), this);
  browseSerial->setObjectName(QStringLiteral("JobSerialFileChoose"));
  form->addRow(tr("&Counter file:"), WithButton(serialFile_, browseSerial));

  log_ = new QLineEdit(this);
  log_->setObjectName(QStringLiteral("JobLog"));
  auto* browseLog = new QPushButton(tr("Choose…"), this);
  browseLog->setObjectName(QStringLiteral("JobLogChoose"));
  form->addRow(tr("L&og:"), WithButton(log_, browseLog));

  database_ = new QLineEdit(this);
  database_->setObjectName(QStringLiteral("JobDatabase"));
  database_->setPlaceholderText(tr("none (e.g. postgresql://station@db.line/varnel)"));
  database_->setToolTip(tr("The line's PostgreSQL database: every board's record, and the serial numbers "
                           "in place of the counter file. The password goes in ~/.pgpass, never here."));
  passwordNote_ = new QLabel(tr("The password was left out: it is read from ~/.pgpass or PGPASSWORD."), this);
  passwordNote_->setObjectName(QStringLiteral("JobDatabasePassword"));
  passwordNote_->setWordWrap(true);
  passwordNote_->hide();
  auto* databaseBox = new QWidget(this);
  auto* databaseLayout = new QVBoxLayout(databaseBox);
  databaseLayout->setContentsMargins(0, 0, 0, 0);
  databaseLayout->addWidget(database_);
  databaseLayout->addWidget(passwordNote_);
  form->addRow(tr("&Database:"), databaseBox);
  serialCounter_ = new QLineEdit(this);
  serialCounter_->setObjectName(QStringLiteral("JobSerialCounter"));
  serialCounter_->setPlaceholderText(tr("default"));
  serialCounter_->setToolTip(tr("With a database: its counter the serial numbers come from, one per product"));
  form->addRow(tr("Database co&unter:"), serialCounter_);

  connect(database_, &QLineEdit::editingFinished, this, [this] {
    // Typed with a password: the field keeps the rest, so the password is
    // neither shown again nor saved.
    const std::string text = database_->text().trimmed().toStdString();
    const std::string kept = WithoutPassword(text);
    if (kept == text) return;
    database_->setText(QString::fromStdString(kept));
    passwordNote_->show();
    emit edited();
  });
  connect(browseFile, &QPushButton::clicked, this, [this] {
    const QString path = Browse(file_, tr("Firmware"), tr("Firmware (*.hex *.ihx *.bin);;All files (*)"), false);
    if (!path.isEmpty()) LoadFirmware(path);
  });
  connect(file_, &QLineEdit::editingFinished, this, [this] {
    if (file_->text().toStdString() != firmware_.path) LoadFirmware(file_->text());
  });
  connect(reload, &QPushButton::clicked, this, &JobEditor::ReloadFirmware);
  connect(refresh, &QPushButton::clicked, this, &JobEditor::RefreshPorts);
  connect(browseSerial, &QPushButton::clicked, this,
          [this] { Browse(serialFile_, tr("Counter file"), tr("All files (*)"), true); });
  connect(browseLog, &QPushButton::clicked, this,
          [this] { Browse(log_, tr("Log"), tr("JSON Lines (*.jsonl);;All files (*)"), true); });
  for (QLineEdit* edit : {file_, serialAddress_, serialFile_, log_, database_, serialCounter_}) {
    connect(edit, &QLineEdit::textEdited, this, &JobEditor::edited);
  }
  connect(ports_, &QListWidget::itemChanged, this, &JobEditor::edited);
  connect(baud_, &QComboBox::currentIndexChanged, this, &JobEditor::edited);
  connect(reset_, &QComboBox::currentTextChanged, this, &JobEditor::edited);
  connect(verify_, &QCheckBox::toggled, this, &JobEditor::edited);
  connect(serialLength_, &QSpinBox::valueChanged, this, &JobEditor::edited);
  connect(serialFormat_, &QComboBox::currentIndexChanged, this, &JobEditor::edited);

  SetJob(StationJob{});
}

QWidget* JobEditor::WithButton(QWidget* field, QPushButton* button) {
  auto* row = new QWidget(this);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(field, 1);
  layout->addWidget(button);
  return row;
}

QString JobEditor::Browse(QLineEdit* edit, const QString& caption, const QString& filter, bool save) {
  const QString start = edit->text().isEmpty() ? QString() : QFileInfo(edit->text()).absolutePath();
  const QString path = save ? QFileDialog::getSaveFileName(this, caption, edit->text().isEmpty() ? start : edit->text(),
                                                           filter, nullptr, QFileDialog::DontConfirmOverwrite)
                            : QFileDialog::getOpenFileName(this, caption, start, filter);
  if (path.isEmpty()) return {};
  edit->setText(path);
  emit edited();
  return path;
}

void JobEditor::SetJob(const StationJob& job) {
  const QSignalBlocker blocks[] = {QSignalBlocker(ports_), QSignalBlocker(baud_), QSignalBlocker(reset_),
                                   QSignalBlocker(verify_), QSignalBlocker(serialLength_),
                                   QSignalBlocker(serialFormat_)};
  file_->setText(QString::fromStdString(job.file));
  ports_->clear();
  for (const std::string& port : job.ports) {
    auto* item = new QListWidgetItem(QString::fromStdString(port), ports_);
    item->setData(kNameRole, QString::fromStdString(port));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Checked);
  }
  const int rate = baud_->findData(job.baud);
  if (rate < 0) baud_->addItem(QString::number(job.baud), job.baud);
  baud_->setCurrentIndex(baud_->findData(job.baud));
  reset_->setCurrentText(QString::fromStdString(job.resetSequence));
  verify_->setChecked(job.verify);
  serialAddress_->setText(QString::fromStdString(job.serialAddress));
  serialLength_->setValue(job.serialLength);
  int format = serialFormat_->findData(QString::fromStdString(job.serialFormat));
  if (format < 0) {
    serialFormat_->addItem(QString::fromStdString(job.serialFormat), QString::fromStdString(job.serialFormat));
    format = serialFormat_->count() - 1;
  }
  serialFormat_->setCurrentIndex(format);
  serialFile_->setText(QString::fromStdString(job.serialFile));
  log_->setText(QString::fromStdString(job.log));
  database_->setText(QString::fromStdString(WithoutPassword(job.database)));
  serialCounter_->setText(QString::fromStdString(job.serialCounter));
  passwordNote_->setVisible(WithoutPassword(job.database) != job.database);
  RefreshPorts();
  LoadFirmware(file_->text());
}

StationJob JobEditor::Job() const {
  StationJob job;
  job.file = file_->text().trimmed().toStdString();
  for (int i = 0; i < ports_->count(); ++i) {
    const QListWidgetItem* item = ports_->item(i);
    if (item->checkState() == Qt::Checked) job.ports.push_back(item->data(kNameRole).toString().toStdString());
  }
  job.baud = baud_->currentData().toInt();
  job.resetSequence = reset_->currentText().trimmed().toStdString();
  job.verify = verify_->isChecked();
  job.serialAddress = serialAddress_->text().trimmed().toStdString();
  job.serialLength = serialLength_->value();
  job.serialFormat = serialFormat_->currentData().toString().toStdString();
  job.serialFile = serialFile_->text().trimmed().toStdString();
  job.log = log_->text().trimmed().toStdString();
  job.database = WithoutPassword(database_->text().trimmed().toStdString());
  job.serialCounter = serialCounter_->text().trimmed().toStdString();
  return job;
}

void JobEditor::RefreshPorts() {
  const QSignalBlocker block(ports_);
  QStringList ticked;  // in the order the job gives them
  for (int i = 0; i < ports_->count(); ++i) {
    if (ports_->item(i)->checkState() == Qt::Checked) ticked << ports_->item(i)->data(kNameRole).toString();
  }
  ports_->clear();
  bool denied = false;
  QStringList listed;
  const auto add = [&](const QString& name, const QString& text, bool enabled) {
    auto* item = new QListWidgetItem(text, ports_);
    item->setData(kNameRole, name);
    item->setToolTip(name);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | (enabled ? Qt::ItemIsEnabled : Qt::NoItemFlags));
    item->setCheckState(ticked.contains(name) ? Qt::Checked : Qt::Unchecked);
    listed << name;
  };
  // The job's ports keep their places; the others follow as the list has them.
  const std::vector<PortChoice> choices = ListPortChoices();
  // The short name and the state first, where a narrow list still shows
  // them; the whole name below.
  const auto describe = [](const PortChoice& c) {
    QString text = QString::fromStdString(ShortPortName(c.name)) + QStringLiteral("  —  ") + StateText(c.state);
    if (!c.detail.empty()) text += QStringLiteral(", ") + QString::fromStdString(c.detail);
    text += QLatin1Char('\n') + QString::fromStdString(c.name);
    if (c.name != c.device) text += QStringLiteral(" → ") + QString::fromStdString(c.device);
    return text;
  };
  for (const QString& name : ticked) {
    const auto it = std::find_if(choices.begin(), choices.end(),
                                 [&](const PortChoice& c) { return QString::fromStdString(c.name) == name; });
    add(name,
        it == choices.end()
            ? QString::fromStdString(ShortPortName(name.toStdString())) + tr("  —  not present") + QLatin1Char('\n') + name
            : describe(*it),
        true);
  }
  for (const PortChoice& c : choices) {
    const QString name = QString::fromStdString(c.name);
    if (listed.contains(name)) continue;
    denied = denied || c.state == PortChoice::State::NoPermission;
    add(name, describe(c), c.state != PortChoice::State::NoPermission);
  }
  dialout_->setVisible(denied);
}

void JobEditor::LoadFirmware(const QString& path) {
  firmware_ = path.isEmpty() ? Firmware{} : ReadFirmware(path.toStdString());
  changed_ = false;
  ShowFirmware();
  emit edited();
}

void JobEditor::ReloadFirmware() { LoadFirmware(file_->text()); }

void JobEditor::ShowFirmware() {
  const Firmware& f = firmware_;
  if (f.path.empty()) {
    facts_->setText(tr("No firmware chosen."));
  } else if (!f.ok) {
    facts_->setText(QStringLiteral("<b>%1</b>").arg(QString::fromStdString(f.error).toHtmlEscaped()));
  } else {
    facts_->setText(tr("<b>%1</b>, %2 bytes, writes %3 bytes at %4<br>SHA-256<br><tt>%5</tt>")
                        .arg(QString::fromStdString(f.name).toHtmlEscaped())
                        .arg(f.size)
                        .arg(f.dataBytes)
                        .arg(QString::fromStdString(RangesText(f)))
                        .arg(QString::fromStdString(f.sha256)));
  }
  changedBox_->setVisible(changed_);
  if (changed_) {
    changedText_->setText(tr("%1 changed on disk after it was loaded. Reload it to program the new "
                             "file; until then the station does not start.")
                              .arg(QString::fromStdString(f.name)));
  }
  emit firmwareShown();
}

void JobEditor::CheckFirmware() {
  if (firmware_.path.empty()) return;
  const Firmware now = ReadFirmware(firmware_.path);
  const bool changed = now.sha256 != firmware_.sha256 || now.error != firmware_.error;
  if (changed == changed_) return;
  changed_ = changed;
  ShowFirmware();
}

}  // namespace varnel::station
