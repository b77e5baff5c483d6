// Message boxes and dialogs of the main window.
#include "app/WidgetPrompts.h"

#include <QMessageBox>

#include "project/TF_Properties.h"

namespace varnel {

void WidgetPrompts::MessageBox(MessageKind kind, const std::string& text) {
  const QString message = QString::fromStdString(text);
  if (kind == MessageKind::Error) {
    QMessageBox::critical(parent_, QStringLiteral("Error"), message);
  } else {
    QMessageBox::information(parent_, QStringLiteral("Information"), message);
  }
}

std::string WidgetPrompts::ChooseFile(FileChoice choice, const std::string& startDir) {
  return ChooseFileWithDialog(choice, startDir, parent_);
}

std::optional<PropertyValues> WidgetPrompts::EditProperties(const PropertiesRequest& request) {
  return TF_Properties::Run(request, parent_);
}

}  // namespace varnel
