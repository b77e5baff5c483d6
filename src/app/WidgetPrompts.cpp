// Message boxes and dialogs of the main window.
#include "app/WidgetPrompts.h"

#include <QFileDialog>
#include <QMessageBox>

#include "project/TF_Properties.h"

namespace varnel {
namespace {

// The save dialog for a memory or the trace: a file name to write, the
// suggested one filled in; replacing a file is asked about.
std::string ChooseSaveFile(FileChoice choice, const std::string& suggested, QWidget* parent) {
  QStringList filters;
  QString suffix;
  switch (choice) {
    case FileChoice::SaveIntelHex:
      filters = {QStringLiteral("Intel hex (*.hex)"), QStringLiteral("All (*.*)")};
      suffix = QStringLiteral("hex");
      break;
    case FileChoice::SaveBinary:
      filters = {QStringLiteral("Binary (*.bin)"), QStringLiteral("All (*.*)")};
      suffix = QStringLiteral("bin");
      break;
    default:
      filters = {QStringLiteral("Text (*.txt)"), QStringLiteral("All (*.*)")};
      suffix = QStringLiteral("txt");
      break;
  }
  QFileDialog dialog(parent, QString(), QString::fromStdString(suggested));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setNameFilters(filters);
  dialog.setDefaultSuffix(suffix);
  const bool picked = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
  return picked ? dialog.selectedFiles().first().toStdString() : std::string();
}

}  // namespace

bool WidgetPrompts::Confirm(const std::string& caption, const std::string& text) {
  return QMessageBox::question(parent_, QString::fromStdString(caption), QString::fromStdString(text),
                               QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

void WidgetPrompts::MessageBox(MessageKind kind, const std::string& text) {
  const QString message = QString::fromStdString(text);
  if (kind == MessageKind::Error) {
    QMessageBox::critical(parent_, QStringLiteral("Error"), message);
  } else {
    QMessageBox::information(parent_, QStringLiteral("Information"), message);
  }
}

std::string WidgetPrompts::ChooseFile(FileChoice choice, const std::string& startDir) {
  if (choice != FileChoice::NewProject && choice != FileChoice::OpenFile) {
    return ChooseSaveFile(choice, startDir, parent_);
  }
  return ChooseFileWithDialog(choice, startDir, parent_);
}

std::optional<PropertyValues> WidgetPrompts::EditProperties(const PropertiesRequest& request) {
  return TF_Properties::Run(request, parent_);
}

}  // namespace varnel
