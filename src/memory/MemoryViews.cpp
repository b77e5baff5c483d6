// Opening, closing and redisplaying the memory views.
#include "memory/MemoryViews.h"

namespace varnel {

MemoryViews::MemoryViews(Session& session, QMdiArea* area, QObject* parent)
    : QObject(parent), session_(session), area_(area) {}

TF_ListMem* MemoryViews::View(MemoryKind kind) const { return views_[Slot(kind)].data(); }

TF_ListMem* MemoryViews::Open(MemoryKind kind) {
  TF_ListMem* view = View(kind);
  if (!view) {
    const ViewLayout layout = ViewLayoutOf(kind, session_.ProjectSettings);
    view = new TF_ListMem(session_.Images.Of(kind), kind, layout.lastAddress);
    view->setWindowTitle(QString::fromLatin1(layout.caption));
    // Saves name their file and report through the session's screen.
    view->SetPrompts(&session_.Ui(), [this] { return session_.WorkDir; });
    area_->addSubWindow(view);
    view->resize(layout.width, layout.height);
    view->move(layout.left, layout.top);
    views_[Slot(kind)] = view;
    connect(view, &TF_ListMem::Closed, this, [this](MemoryKind closed) {
      views_[Slot(closed)] = nullptr;
      emit OpenChanged(closed, false);
    });
    emit OpenChanged(kind, true);
  }
  view->show();
  area_->setActiveSubWindow(view);
  view->raise();
  return view;
}

void MemoryViews::Refresh(MemoryKind kind) {
  if (TF_ListMem* view = View(kind)) view->RefreshData();
}

void MemoryViews::RefreshAll() {
  for (auto kind : {MemoryKind::Code, MemoryKind::SFR, MemoryKind::IRAM, MemoryKind::ExtRAM,
                    MemoryKind::Cfg}) {
    Refresh(kind);
  }
}

void MemoryViews::DestroyAll() {
  for (auto& view : views_) {
    if (view) {
      view->blockSignals(true);
      delete view.data();
    }
    view = nullptr;
  }
}

}  // namespace varnel
