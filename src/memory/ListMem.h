// The memory view: a child window of the main window showing one memory
// image as a read-only hex dump with a character column. It holds no data;
// RefreshData redraws it from the image.
#pragma once

#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <cstdint>
#include <string>

#include "core/MemoryImages.h"
#include "core/ProjectSettings.h"

namespace varnel {

// Read-only fixed-pitch text without wrapping, with a margin line between
// the hex cells and the character column.
class DumpEdit : public QPlainTextEdit {
  Q_OBJECT
 public:
  explicit DumpEdit(QWidget* parent = nullptr);
  // Left edge, in viewport pixels, of the margin line.
  int MarginX() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// Caption, size, place and range of one kind of view.
struct ViewLayout {
  int kindNumber;        // 1 CODE, 2 SFR, 3 external RAM, 4 configuration page, 5 internal RAM
  const char* caption;
  int width, height;     // outer size
  int top, left;         // in the main window's client area
  std::int32_t lastAddress;
};
// Taken from the settings at the moment a view is created.
ViewLayout ViewLayoutOf(MemoryKind kind, const ProjectSettingsRecord& settings);

class TF_ListMem : public QMdiSubWindow {
  Q_OBJECT
 public:
  // lastAddress is cut at the image's end: a view never reads outside it.
  TF_ListMem(const MemoryImage& image, MemoryKind kind, std::int32_t lastAddress,
             QWidget* parent = nullptr);

  // Rebuilds the whole text from the image, drawn once at the end.
  void RefreshData();

  MemoryKind Kind() const { return kind_; }
  std::int32_t FirstAddress() const { return 0; }
  std::int32_t LastAddress() const { return lastAddress_; }
  int LineCount() const { return lastAddress_ / 16 + 1; }
  DumpEdit* SyntaxEdit1() const { return edit_; }
  // The text as 8-bit characters, lines joined by line feeds.
  std::string DumpText() const;

 signals:
  void Closed(varnel::MemoryKind kind);

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  const MemoryImage& image_;
  MemoryKind kind_;
  std::int32_t lastAddress_;
  DumpEdit* edit_;
  bool shown_ = false;
};

}  // namespace varnel
