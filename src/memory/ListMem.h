// The memory view: a child window of the main window showing one memory
// image as a read-only hex dump with a character column. It holds no data;
// RefreshData redraws it from the image. Its context menu and its system
// menu save the view's range of the image as Intel HEX or as raw bytes.
#pragma once

#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/MemoryImages.h"
#include "core/ProjectSettings.h"
#include "core/TargetUi.h"

class QAction;
class QMenu;

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

  // Saving. The file is named through prompts (which also show a failure),
  // starting in the folder startFolder gives at the time; without prompts
  // the save commands do nothing.
  void SetPrompts(Prompts* prompts, std::function<std::string()> startFolder = {});
  // The cells of the view's range, first to last address.
  std::vector<std::uint8_t> RangeBytes() const;
  // The range as Intel HEX at the memory's target addresses (the
  // configuration page from 8000h).
  std::string IntelHexText() const;
  enum class SaveFormat { IntelHex, Binary };
  // Writes the range to path as a whole new file; on failure the old file is
  // untouched and the error is shown. True when written.
  bool SaveTo(const std::string& path, SaveFormat format);
  // "Save as Intel HEX..." and "Save as binary...": ask for a file, then
  // SaveTo it.
  void SaveHex1Click();
  void SaveBin1Click();
  QAction* SaveHexAction() const { return saveHex_; }
  QAction* SaveBinAction() const { return saveBin_; }
  // The text control's own menu (copy, select all) and the two saves.
  QMenu* CreateContextMenu();

 signals:
  void Closed(varnel::MemoryKind kind);

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void Save(SaveFormat format);

  const MemoryImage& image_;
  MemoryKind kind_;
  std::int32_t lastAddress_;
  DumpEdit* edit_;
  bool shown_ = false;
  Prompts* prompts_ = nullptr;
  std::function<std::string()> startFolder_;
  QAction* saveHex_;
  QAction* saveBin_;
};

}  // namespace varnel
