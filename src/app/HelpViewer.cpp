// Help viewer window.
#include "app/HelpViewer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace varnel {

QString HelpViewer::Locate(const QString& helpFile) {
  const QString dir = QCoreApplication::applicationDirPath();
  for (const QString& candidate :
       {dir + QLatin1Char('/') + helpFile,
        dir + QStringLiteral("/../share/varnel/") + helpFile}) {
    if (QFileInfo(candidate).isFile()) return QDir::cleanPath(candidate);
  }
  return {};
}

HelpViewer::HelpViewer(const QString& helpFile, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("HelpViewer"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("Varnel Help"));
  resize(640, 520);

  text_ = new QTextBrowser(this);
  text_->setObjectName(QStringLiteral("HelpText"));
  text_->setOpenExternalLinks(true);
  auto* close = new QPushButton(QStringLiteral("&Close"), this);
  close->setObjectName(QStringLiteral("HelpClose"));
  connect(close, &QPushButton::clicked, this, &QDialog::close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text_);
  layout->addWidget(close, 0, Qt::AlignRight);

  QFile file(Locate(helpFile));
  if (!file.fileName().isEmpty() && file.open(QIODevice::ReadOnly)) {
    found_ = true;
    text_->setMarkdown(QString::fromUtf8(file.readAll()));
  } else {
    text_->setPlainText(QStringLiteral("Cannot find the help file %1.\n\nIt belongs in %2.")
                            .arg(helpFile, QCoreApplication::applicationDirPath()));
  }
}

}  // namespace varnel
