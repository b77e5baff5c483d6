// Prompts that never block: boxes go to a callback, file choices and the
// properties dialog are answered as cancelled unless a test says otherwise.
#pragma once

#include <functional>
#include <string>

#include "core/TargetUi.h"

namespace varnel::testing {

class AnsweringPrompts : public Prompts {
 public:
  using BoxAnswer = std::function<void(MessageKind, const std::string&)>;
  explicit AnsweringPrompts(BoxAnswer onBox = {}) : onBox(std::move(onBox)) {}

  BoxAnswer onBox;
  std::function<std::string(FileChoice, const std::string&)> onChooseFile;
  std::function<std::optional<PropertyValues>(const PropertiesRequest&)> onEditProperties;
  std::function<bool(const std::string& caption, const std::string& text)> onConfirm;

  void MessageBox(MessageKind kind, const std::string& text) override {
    if (onBox) onBox(kind, text);
  }
  std::string ChooseFile(FileChoice choice, const std::string& startDir) override {
    return onChooseFile ? onChooseFile(choice, startDir) : std::string();
  }
  std::optional<PropertyValues> EditProperties(const PropertiesRequest& request) override {
    return onEditProperties ? onEditProperties(request) : std::nullopt;
  }
  bool Confirm(const std::string& caption, const std::string& text) override {
    return onConfirm ? onConfirm(caption, text) : true;
  }
};

}  // namespace varnel::testing
