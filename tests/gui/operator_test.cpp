// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <QtCore/QDir>
#include <QtCore/QTemporaryDir>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMessageBox>

#include "Fwupdate.h"
#include "designer_fonts.h"
#include "fake_enumerator.h"
#include "gui_application.h"
#include "modal_helper.h"
#include "qt_operator.h"
#include "timer_service.h"

namespace fwtool::gui {
namespace {

using testing::ModalAnswerer;

struct SeenBox {
  QString caption;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QStringList buttons;
  bool modal = false;
};

SeenBox AnswerBox(QWidget* widget) {
  SeenBox seen;
  auto* box = qobject_cast<QMessageBox*>(widget);
  if (box == nullptr) {
    widget->close();
    return seen;
  }
  seen.caption = box->windowTitle();
  seen.text = box->text();
  seen.icon = box->icon();
  for (QAbstractButton* b : box->buttons()) seen.buttons << b->text().remove(QLatin1Char('&'));
  seen.modal = box->isModal();
  box->button(QMessageBox::Ok)->click();
  return seen;
}

TEST(QtOperator, BoxesHaveTheGivenCaptionIconAndOnlyOk) {
  struct Case {
    MessageIcon icon;
    QMessageBox::Icon expected;
  };
  const Case cases[] = {{MessageIcon::None, QMessageBox::NoIcon},
                        {MessageIcon::Error, QMessageBox::Critical},
                        {MessageIcon::Information, QMessageBox::Information},
                        {MessageIcon::Warning, QMessageBox::Warning}};
  QtOperator op(QString::fromLatin1(kApplicationTitle));
  for (const auto& c : cases) {
    SeenBox seen;
    ModalAnswerer answer([&](QWidget* w) { seen = AnswerBox(w); });
    op.MessageBox("Please Turn-Off the Power and Turn-On Again!", "Message", c.icon);
    EXPECT_EQ(seen.caption, QStringLiteral("Message"));
    EXPECT_EQ(seen.text, QStringLiteral("Please Turn-Off the Power and Turn-On Again!"));
    EXPECT_EQ(seen.icon, c.expected);
    EXPECT_EQ(seen.buttons, QStringList{QStringLiteral("OK")});
    EXPECT_TRUE(seen.modal);
  }
}

TEST(QtOperator, SimpleMessageCarriesTheApplicationTitle) {
  QtOperator op(QString::fromLatin1(kApplicationTitle));
  SeenBox seen;
  ModalAnswerer answer([&](QWidget* w) { seen = AnswerBox(w); });
  op.SimpleMessage("Please Drag and Drop One File Only!");
  EXPECT_EQ(seen.caption, QStringLiteral("TALVE VQB719 FW Update Utility"));
  EXPECT_EQ(seen.text, QStringLiteral("Please Drag and Drop One File Only!"));
  EXPECT_EQ(seen.buttons, QStringList{QStringLiteral("OK")});
}

FileDialogRequest FirmwareRequest() {
  return {"", {{"BinaryFile", "*.bin"}, {"All Files", "*.*"}, {"VQT Files", "*.vqt"}}, "bin", ""};
}

TEST(QtOperator, FileDialogOffersTheFiltersAndAddsTheDefaultExtension) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QtOperator op(QString::fromLatin1(kApplicationTitle));
  QStringList filters;
  QString suffix;
  ModalAnswerer answer([&](QWidget* w) {
    auto* dialog = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(dialog, nullptr);
    filters = dialog->nameFilters();
    suffix = dialog->defaultSuffix();
    // A name without extension gets "bin"; the file need not exist (a
    // backup target is created by the procedure).
    dialog->selectFile(QDir(dir.path()).filePath(QStringLiteral("newflash")));
    static_cast<QDialog*>(dialog)->accept();
  });
  const auto chosen = op.OpenFileDialog(FirmwareRequest());
  EXPECT_EQ(filters,
            (QStringList{QStringLiteral("BinaryFile (*.bin)"), QStringLiteral("All Files (*)"),
                         QStringLiteral("VQT Files (*.vqt)")}));
  EXPECT_EQ(suffix, QStringLiteral("bin"));
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(QString::fromStdString(*chosen),
            QDir(dir.path()).filePath(QStringLiteral("newflash.bin")));
  EXPECT_EQ(op.DialogFolder(), QDir(dir.path()).absolutePath()) << "the next dialog opens there";
}

TEST(QtOperator, CancelledFileDialogGivesNothing) {
  QtOperator op(QString::fromLatin1(kApplicationTitle));
  bool fileDialog = false;
  ModalAnswerer answer([&fileDialog](QWidget* w) {
    fileDialog = qobject_cast<QFileDialog*>(w) != nullptr;
    qobject_cast<QDialog*>(w)->reject();
  });
  EXPECT_FALSE(op.OpenFileDialog(FirmwareRequest()).has_value());
  // Nothing because the operator cancelled the dialog, not because none
  // opened.
  EXPECT_EQ(answer.Answered(), 1);
  EXPECT_TRUE(fileDialog);
}

// "Load File" and "Browse" hand the dialog the form's folder to start in:
// the dialog opens in it, with no file name typed in yet.
TEST(QtOperator, FileDialogOpensInTheFolderTheFormNames) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString folder = QDir(dir.path()).absolutePath();
  QtOperator op(QString::fromLatin1(kApplicationTitle));
  fwtool::testing::FakeEnumerator enumerator;
  ClockTimerService timers;
  TV77xFwTool form(op, enumerator, timers);
  form.OpenDialog1.InitialDir = folder.toStdString();
  QString openedIn;
  QString typedName = QStringLiteral("(no name field)");
  ModalAnswerer answer([&](QWidget* w) {
    auto* dialog = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(dialog, nullptr);
    openedIn = dialog->directory().absolutePath();
    if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
      typedName = name->text();
    dialog->selectFile(QDir(folder).filePath(QStringLiteral("old.bin")));
    static_cast<QDialog*>(dialog)->accept();
  });
  form.BackupBtnClick(form.BackupBtn);
  EXPECT_EQ(openedIn.toStdString(), folder.toStdString());
  EXPECT_EQ(typedName.toStdString(), "");
  EXPECT_EQ(form.BackupFileEdit.Text(),
            QDir(folder).filePath(QStringLiteral("old.bin")).toStdString());
}

TEST(DesignerFonts, ArialMapsToAMetricTwinAtThePixelHeight) {
  const QFont arial = DesignerFont(QString::fromLatin1(kArial), -19);
  EXPECT_EQ(arial.pixelSize(), 19);
  EXPECT_TRUE(arial.family() == QLatin1String("Arial") ||
              arial.family() == QLatin1String("Liberation Sans"))
      << arial.family().toStdString();
  const QFont dialog = DesignerFont(QString::fromLatin1(kMsSansSerif), -11);
  EXPECT_EQ(dialog.pixelSize(), 11);
  EXPECT_FALSE(dialog.family().isEmpty());
}

}  // namespace
}  // namespace fwtool::gui
