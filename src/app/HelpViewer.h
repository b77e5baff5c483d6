// The help viewer: shows the contents page of Varnel.hlp, the user guide
// installed beside the executable. A missing file is reported in the viewer.
#pragma once

#include <QDialog>
#include <QString>

class QTextBrowser;

namespace varnel {

class HelpViewer : public QDialog {
  Q_OBJECT
 public:
  // Shows the file named helpFile (no folder: looked up beside the
  // executable, then in the installed data folder).
  explicit HelpViewer(const QString& helpFile, QWidget* parent = nullptr);

  // Where a help file of that name is found, or an empty text.
  static QString Locate(const QString& helpFile);
  bool Found() const { return found_; }

 private:
  QTextBrowser* text_;
  bool found_ = false;
};

}  // namespace varnel
