// One panel of the main window's status bar: a text cut in the middle when
// the panel is too narrow for it, the whole text then as its tool tip, and
// an optional reason (why the port is closed) as the tool tip as well.
#pragma once

#include <QLabel>

namespace varnel {

class StatusPanel : public QLabel {
  Q_OBJECT
 public:
  explicit StatusPanel(QWidget* parent = nullptr);

  // The whole text; what the panel shows may be shorter.
  void SetFullText(const QString& text);
  const QString& FullText() const { return full_; }
  // Added to the tool tip; empty: none.
  void SetReason(const QString& reason);
  bool IsCut() const { return text() != full_; }
  // The width that shows text whole, frame and indent included.
  int WidthFor(const QString& text) const;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Show();
  int IndentPx() const;

  QString full_;
  QString reason_;
};

}  // namespace varnel
