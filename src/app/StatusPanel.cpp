// Status bar panel with middle elision.
#include "app/StatusPanel.h"

#include <QFontMetrics>
#include <algorithm>

namespace varnel {

StatusPanel::StatusPanel(QWidget* parent) : QLabel(parent) {}

void StatusPanel::SetFullText(const QString& text) {
  full_ = text;
  Show();
}

void StatusPanel::SetReason(const QString& reason) {
  reason_ = reason;
  Show();
}

void StatusPanel::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  Show();
}

int StatusPanel::IndentPx() const {
  // A framed label indents its text by half an "x" unless told otherwise.
  return indent() >= 0 ? indent()
         : frameWidth() > 0 ? fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2
                            : 0;
}

int StatusPanel::WidthFor(const QString& text) const {
  return fontMetrics().horizontalAdvance(text) + 2 * (margin() + IndentPx() + frameWidth());
}

void StatusPanel::Show() {
  const int room = contentsRect().width() - 2 * margin() - 2 * IndentPx();
  const QString shown = fontMetrics().elidedText(full_, Qt::ElideMiddle, std::max(room, 0));
  if (shown != text()) setText(shown);
  QStringList tip;
  if (shown != full_) tip << full_;
  if (!reason_.isEmpty()) tip << reason_;
  setToolTip(tip.join(QLatin1Char('\n')));
}

}  // namespace varnel
