// The window's prompts: modal message boxes, the file dialogs of New and
// Open, and the properties dialog, all owned by a parent window.
#pragma once

#include "core/TargetUi.h"

class QWidget;

namespace varnel {

class WidgetPrompts : public Prompts {
 public:
  explicit WidgetPrompts(QWidget* parent) : parent_(parent) {}

  void MessageBox(MessageKind kind, const std::string& text) override;
  std::string ChooseFile(FileChoice choice, const std::string& startDir) override;
  std::optional<PropertyValues> EditProperties(const PropertiesRequest& request) override;
  bool Confirm(const std::string& caption, const std::string& text) override;

 private:
  QWidget* parent_;
};

}  // namespace varnel
