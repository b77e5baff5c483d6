// New, Open, Close and Configure.
#include "project/ProjectCommands.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>

namespace varnel {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

// A picking dialog whose typed name follows the chosen type's extension.
QFileDialog* FileDialog(QWidget* parent, const QString& dir, const QStringList& filters) {
  auto* dialog = new QFileDialog(parent, QString(), dir);
  dialog->setOption(QFileDialog::DontUseNativeDialog);
  dialog->setNameFilters(filters);
  QObject::connect(dialog, &QFileDialog::filterSelected, dialog, [dialog](const QString& f) {
    if (auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
      edit->setText(SwapExtensionForFilter(edit->text(), f));
    }
  });
  return dialog;
}

QString Run(QFileDialog* dialog) {
  const bool picked = dialog->exec() == QDialog::Accepted && !dialog->selectedFiles().isEmpty();
  const QString path = picked ? dialog->selectedFiles().first() : QString();
  delete dialog;
  return path;
}

}  // namespace

QStringList ProjectCommands::OpenFilters() {
  return {QStringLiteral("Intel hex (*.hex)"), QStringLiteral("Binary (*.bin)"),
          QStringLiteral("Project (*.prj)"), QStringLiteral("All (*.*)")};
}

QStringList ProjectCommands::NewFilters() { return {QStringLiteral("Project (*.prj)")}; }

ProjectCommands::ProjectCommands(Session& session, Settings& settings, QWidget* dialogParent)
    : session_(session), settings_(settings), parent_(dialogParent) {
  ChooseNewProject = [this](const QString& dir) {
    QFileDialog* dialog = FileDialog(parent_, dir, NewFilters());
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(QStringLiteral("prj"));
    dialog->setOption(QFileDialog::DontConfirmOverwrite);  // no question for an existing file
    return Run(dialog);
  };
  ChooseFileToOpen = [this](const QString& dir) {
    QFileDialog* dialog = FileDialog(parent_, dir, OpenFilters());
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setDefaultSuffix(QStringLiteral("hex"));
    return Run(dialog);
  };
  ShowProperties = [](TF_Properties& dialog) { return dialog.exec() == QDialog::Accepted; };
}

std::optional<PropertyValues> ProjectCommands::RunDialog(const QString& projectPath,
                                                         const PropertyValues& shown,
                                                         TF_Properties::FillMode mode) {
  TF_Properties dialog(parent_);
  if (!projectPath.isEmpty()) dialog.SetProjectName(QFileInfo(projectPath).fileName());
  dialog.WorkDir = Q(session_.WorkDir);
  for (const auto& name : settings_.PortList()) dialog.ComboPort->addItem(Q(name));
  dialog.ComboPort->setCurrentIndex(-1);
  dialog.Fill(shown, mode);
  dialog.SetComputedClock(session_.CoreClockHz);
  if (!ShowProperties(dialog)) return std::nullopt;
  return dialog.Values();
}

void ProjectCommands::Configure1Click() {
  const auto values = RunDialog(Q(session_.ProjectFile), ReadPropertyValues(settings_.OpenStore()),
                                TF_Properties::FillMode::Configure);
  settings_.FinishConfigure(values ? &*values : nullptr);
}

void ProjectCommands::SpeedNewClick() {
  const QString path = ChooseNewProject(Q(session_.WorkDir));
  if (path.isEmpty()) return;
  // From here on the chosen file is the open project, whatever the dialog.
  session_.ProjectFile = path.toStdString();
  // A new project starts from the per-user store, not from the file.
  const auto values = RunDialog(path, ReadNewProjectValues(settings_.OpenUserStore()),
                                TF_Properties::FillMode::NewProject);
  // A failed write is reported and the settings are then left as they were.
  settings_.FinishNewProject(values ? &*values : nullptr);
}

void ProjectCommands::SpeedOpenClick() {
  const QString path = ChooseFileToOpen(Q(session_.WorkDir));
  if (path.isEmpty()) return;
  const QFileInfo file(path);
  settings_.WriteWorkDir(QDir::toNativeSeparators(file.absolutePath() + QLatin1Char('/'))
                             .toStdString());

  const QString extension = file.suffix().toUpper();
  if (extension == QLatin1String("PRJ")) {
    session_.ProjectFile = file.absoluteFilePath().toStdString();
    if (SetCloseEnabled) SetCloseEnabled(true);
    settings_.LoadProperties();
  } else if (extension == QLatin1String("HEX") || extension == QLatin1String("BIN")) {
    // A raw image is chosen as an Intel HEX file is: programming converts it.
    session_.ProgramFile = file.absoluteFilePath().toStdString();
    session_.ProgramFileChosen = true;
    session_.Ui().SetStatusPanel(Session::kStatusProgram, "Prog.: " + session_.ProgramFile);
  }
}

void ProjectCommands::Close1Click() {
  session_.ProjectFile.clear();
  if (SetCloseEnabled) SetCloseEnabled(false);
  settings_.LoadProperties();
}

}  // namespace varnel
