// SPDX-License-Identifier: GPL-2.0-or-later
#include "qt_operator.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QEventLoop>
#include <QtCore/QFileInfo>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QMessageBox>

namespace fwtool::gui {

Q_LOGGING_CATEGORY(lcDebugTrace, "fwtool.debug")

namespace {

QMessageBox::Icon BoxIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Error:
      return QMessageBox::Critical;
    case MessageIcon::Warning:
      return QMessageBox::Warning;
    case MessageIcon::Information:
      return QMessageBox::Information;
    case MessageIcon::Question:
      return QMessageBox::Question;
    case MessageIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

// A box with no owner window, a single OK button, modal to the whole program
// (the original boxes stop every window of the program until answered).
void ShowBox(const QString& text, const QString& caption, QMessageBox::Icon icon) {
  QMessageBox box(icon, caption, text, QMessageBox::Ok);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

}  // namespace

QString NameFilterFor(const FileFilter& filter) {
  QString pattern = QString::fromStdString(filter.pattern);
  if (pattern == QLatin1String("*.*")) pattern = QStringLiteral("*");
  return QStringLiteral("%1 (%2)").arg(QString::fromStdString(filter.name), pattern);
}

QtOperator::QtOperator(QString applicationTitle)
    : applicationTitle_(std::move(applicationTitle)),
      dialogFolder_(QCoreApplication::applicationDirPath()) {}

void QtOperator::MessageBox(const std::string& text, const std::string& caption, MessageIcon icon) {
  ShowBox(QString::fromStdString(text), QString::fromStdString(caption), BoxIcon(icon));
}

void QtOperator::SimpleMessage(const std::string& text) {
  ShowBox(QString::fromStdString(text), applicationTitle_, QMessageBox::NoIcon);
}

bool QtOperator::QuestionBox(const std::string& text, const std::string& caption) {
  // No is the default: Enter alone never overwrites anything.
  QMessageBox box(QMessageBox::Warning, QString::fromStdString(caption),
                  QString::fromStdString(text), QMessageBox::Yes | QMessageBox::No);
  box.setDefaultButton(QMessageBox::No);
  box.setWindowModality(Qt::ApplicationModal);
  return box.exec() == QMessageBox::Yes;
}

std::optional<std::string> QtOperator::OpenFileDialog(const FileDialogRequest& request) {
  QFileDialog dialog(nullptr, QString::fromStdString(request.title));
  dialog.setWindowModality(Qt::ApplicationModal);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // The backup chooser names a file that the procedure creates, so the
  // dialog accepts names of files that do not exist yet.
  dialog.setFileMode(QFileDialog::AnyFile);
  QStringList filters;
  for (const auto& filter : request.filters) filters << NameFilterFor(filter);
  if (!filters.isEmpty()) dialog.setNameFilters(filters);
  if (!request.defaultExtension.empty()) {
    dialog.setDefaultSuffix(QString::fromStdString(request.defaultExtension));
  }
  // The form names either a folder to start in (its InitialDir) or a file
  // to suggest.
  const QFileInfo initial(QString::fromStdString(request.initialName));
  if (request.initialName.empty()) {
    dialog.setDirectory(dialogFolder_);
  } else if (initial.isDir()) {
    dialog.setDirectory(initial.absoluteFilePath());
  } else {
    dialog.setDirectory(initial.path() != QLatin1String(".") ? initial.absolutePath()
                                                             : dialogFolder_);
    dialog.selectFile(initial.fileName());
  }
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  dialogFolder_ = QFileInfo(chosen.front()).absolutePath();
  return QDir::toNativeSeparators(chosen.front()).toStdString();
}

void QtOperator::ProcessMessages() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtOperator::DebugOutput(const std::string& text) {
  QString line = QString::fromStdString(text);
  while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r'))) line.chop(1);
  qCDebug(lcDebugTrace).noquote() << line;
}

}  // namespace fwtool::gui
