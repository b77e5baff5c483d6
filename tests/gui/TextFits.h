// Checks that a window's texts are drawn whole at the font it runs with.
#pragma once

#include <QAbstractButton>
#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QRegularExpression>
#include <QStringList>
#include <QWidget>

namespace varnel::testing {

// The labels and check boxes of window whose text is cut: a label narrower
// than its text (a word-wrapping one: lower than its lines, or narrower than
// a word), a check box narrower than its box and text. One entry a control,
// "name 'text': needs N, has M", empty when everything fits.
inline QStringList ClippedTexts(const QWidget& window) {
  QStringList clipped;
  const auto report = [&](const QWidget* w, const QString& text, int needs, int has) {
    if (needs > has) {
      clipped << QStringLiteral("%1 '%2': needs %3, has %4")
                     .arg(w->objectName(), text)
                     .arg(needs)
                     .arg(has);
    }
  };
  for (const QLabel* label : window.findChildren<QLabel*>()) {
    const QString text = label->text();
    if (text.isEmpty()) continue;
    const QFontMetrics metrics(label->font());
    const int room = label->contentsRect().width() - 2 * label->margin();
    if (label->wordWrap()) {
      for (const QString& word : text.split(QRegularExpression(QStringLiteral("\\s+")))) {
        report(label, text, metrics.horizontalAdvance(word), room);
      }
      report(label, text, label->heightForWidth(label->width()), label->height());
    } else {
      report(label, text, metrics.horizontalAdvance(text), room);
    }
  }
  for (const QCheckBox* box : window.findChildren<QCheckBox*>()) {
    report(box, box->text(), box->sizeHint().width(), box->width());
  }
  return clipped;
}

}  // namespace varnel::testing
