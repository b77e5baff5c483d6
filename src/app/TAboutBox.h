// The About box: program picture, name, version and links that open on a
// double click through the desktop's default handler.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QUrl>
#include <functional>

namespace varnel {

// A label that opens its address on a double click (and only then).
class LinkLabel : public QLabel {
  Q_OBJECT
 public:
  LinkLabel(const QUrl& url, QWidget* parent);
  QUrl Url() const { return url_; }

  // How addresses are opened; tests replace it. A failure stays silent.
  static std::function<void(const QUrl&)>& Opener();

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  QUrl url_;
};

class TAboutBox : public QDialog {
  Q_OBJECT
 public:
  explicit TAboutBox(QWidget* parent = nullptr);

  static constexpr char kHomePage[] = "https://varnel.example.org/";
  static constexpr char kChipMakerPage[] = "https://www.ti.com/";
  static constexpr char kChipProductPage[] = "https://www.ti.com/product/MSC1210Y5";
  static constexpr char kToolMakerPage[] = "https://varnel.example.org/about";
  static constexpr char kAuthorMail[] = "mailto:varnel@example.org";
};

}  // namespace varnel
