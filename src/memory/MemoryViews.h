// The main window's five view references (CodeView, SFRView, ExtRAMView,
// CfgView, IRAMView): opens a view or brings it to the front, redisplays
// open views and says which are open, for the View menu's check marks.
#pragma once

#include <QMdiArea>
#include <QObject>
#include <QPointer>
#include <array>

#include "core/Session.h"
#include "memory/ListMem.h"

namespace varnel {

class MemoryViews : public QObject {
  Q_OBJECT
 public:
  MemoryViews(Session& session, QMdiArea* area, QObject* parent = nullptr);

  // CODE1Click, SFR1Click, ExtRAM1Click, PS1cfg1Click, IRAM1Click: a new view
  // with the range the settings give now, or the open one activated.
  TF_ListMem* Open(MemoryKind kind);
  bool IsOpen(MemoryKind kind) const { return View(kind) != nullptr; }
  TF_ListMem* View(MemoryKind kind) const;

  // RefreshData of that view / of every view, where open.
  void Refresh(MemoryKind kind);
  void RefreshAll();
  // At exit the views go without their close handler.
  void DestroyAll();

 signals:
  void OpenChanged(varnel::MemoryKind kind, bool open);

 private:
  static std::size_t Slot(MemoryKind kind) { return static_cast<std::size_t>(kind); }

  Session& session_;
  QMdiArea* area_;
  std::array<QPointer<TF_ListMem>, 5> views_;
};

}  // namespace varnel
