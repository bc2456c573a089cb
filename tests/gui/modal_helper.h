// SPDX-License-Identifier: GPL-2.0-or-later
// Answers the modal dialogs a test provokes: when the next one opens, the
// handler inspects it and closes it. Without this a test would wait forever.
#pragma once

#include <QtCore/QTimer>
#include <QtWidgets/QApplication>
#include <QtWidgets/QWidget>
#include <functional>
#include <memory>

namespace fwtool::gui::testing {

// Calls `handler` with each modal widget that appears while the object lives;
// the handler must close it (accept, reject or click a button).
class ModalAnswerer {
 public:
  explicit ModalAnswerer(std::function<void(QWidget*)> handler)
      : handler_(std::move(handler)), timer_(std::make_unique<QTimer>()) {
    timer_->setInterval(5);
    QObject::connect(timer_.get(), &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (modal == nullptr || modal == last_) return;
      last_ = modal;
      ++answered_;
      handler_(modal);
      last_ = nullptr;
    });
    timer_->start();
  }
  int Answered() const { return answered_; }

 private:
  std::function<void(QWidget*)> handler_;
  std::unique_ptr<QTimer> timer_;
  QWidget* last_ = nullptr;
  int answered_ = 0;
};

}  // namespace fwtool::gui::testing
