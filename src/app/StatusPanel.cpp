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

void StatusPanel::Show() {
  // A framed label indents its text by half an "x" unless told otherwise.
  const int indentPx = indent() >= 0 ? indent()
                       : frameWidth() > 0 ? fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2
                                          : 0;
  const int room = contentsRect().width() - 2 * margin() - 2 * indentPx;
  const QString shown = fontMetrics().elidedText(full_, Qt::ElideMiddle, std::max(room, 0));
  if (shown != text()) setText(shown);
  QStringList tip;
  if (shown != full_) tip << full_;
  if (!reason_.isEmpty()) tip << reason_;
  setToolTip(tip.join(QLatin1Char('\n')));
}

}  // namespace varnel
