// SPDX-License-Identifier: GPL-2.0-or-later
#include "form_window.h"

#include <QtCore/QMimeData>
#include <QtCore/QSignalBlocker>
#include <QtCore/QTimer>
#include <QtCore/QUrl>
#include <QtGui/QCloseEvent>
#include <QtGui/QDragEnterEvent>
#include <QtGui/QDropEvent>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QFrame>
#include <QtWidgets/QGridLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QVBoxLayout>
#include <algorithm>
#include <array>
#include <string_view>

#include "designer_fonts.h"

namespace fwtool::gui {

namespace {

// The client area of the one-click face, as designed.
constexpr int kBandWidth = kFormClientWidth;  // 419
constexpr int kBandHeight = kPanel2Height;    // 113

QColor ToQColor(uint32_t rgb) {
  return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

// A check box whose state belongs to the model: a click asks the model to
// toggle (which runs the click handler); the model's change repaints the box.
class ModelCheckBox : public QCheckBox {
 public:
  ModelCheckBox(Control& control, QWidget* parent) : QCheckBox(parent), control_(control) {}

 protected:
  void nextCheckState() override {
    control_.Click();
    const QSignalBlocker block(this);
    setChecked(control_.Checked());
  }

 private:
  Control& control_;
};

void ApplyFont(QWidget* widget, const FontSpec& font, bool colored) {
  if (!font.name.empty() && font.height != 0)
    widget->setFont(DesignerFont(Q(font.name), font.height));
  if (colored) {
    QPalette palette = widget->palette();
    const QColor color = ToQColor(font.color);
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::ButtonText, color);
    widget->setPalette(palette);
  }
}

}  // namespace

FormWindow::FormWindow(TV77xFwTool& form, bool engineering, QWidget* parent)
    : QWidget(parent), form_(form) {
  setObjectName(QString::fromLatin1("V77xFwTool"));
  // A fixed single border with a system menu and a minimize box, no maximize.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  Build(engineering);
  RenderAll();
  subscription_ = form_.Subscribe([this](const Control& control, ControlProperty property) {
    ModelChanged(control, property);
  });
  form_.SetCloseHandler([this] { close(); });
  setAcceptDrops(form_.AcceptsDrops());
  move(kFormDesignLeft, kFormDesignTop);
  ScheduleSettle();
}

FormWindow::~FormWindow() {
  form_.SetCloseHandler(nullptr);
  form_.Unsubscribe(subscription_);
}

QWidget* FormWindow::WidgetFor(const std::string& name) const {
  const auto it = byName_.find(name);
  return it == byName_.end() ? nullptr : bindings_.at(it->second).widget;
}

QLabel* FormWindow::EditLabelFor(const std::string& name) const {
  const auto it = byName_.find(name);
  return it == byName_.end() ? nullptr : bindings_.at(it->second).label;
}

void FormWindow::Build(bool engineering) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  // The window takes the size of what shows and cannot be resized.
  layout->setSizeConstraint(QLayout::SetFixedSize);

  QWidget* panel2 = nullptr;
  QWidget* rdPanel = nullptr;
  QWidget* panel1 = nullptr;
  for (Control* control : form_.Controls()) {
    if (control->Kind() == ControlKind::Form) {
      bindings_[control] = {control, this, nullptr};
      byName_[control->Name()] = control;
      continue;
    }
    QWidget* parent = this;
    const std::string& name = control->Name();
    const Control* owner = control->Parent();
    if (owner != nullptr && owner->Name() == "RdPanel") {
      parent = rdPanel;
    } else if (owner != nullptr && owner->Name() == "Panel2") {
      parent = BandPlaceOf(name) != nullptr ? band_ : engineering_;
    }
    QWidget* widget = CreateWidget(*control, parent);
    if (name == "Panel2") {
      panel2 = widget;
      auto* panelLayout = new QVBoxLayout(panel2);
      panelLayout->setContentsMargins(0, 0, 0, 0);
      panelLayout->setSpacing(0);
      band_ = new QWidget(panel2);
      band_->setObjectName(QStringLiteral("OneClickBand"));
      band_->setFixedSize(kBandWidth, kBandHeight);
      panelLayout->addWidget(band_);
      engineering_ = new QWidget(panel2);
      engineering_->setObjectName(QStringLiteral("EngineeringColumn"));
      engineering_->setFixedWidth(kBandWidth);
      panelLayout->addWidget(engineering_);
      // Out of the one-click configuration's reach altogether.
      if (!engineering) engineering_->hide();
    } else if (name == "RdPanel") {
      rdPanel = widget;
    } else if (name == "Panel1") {
      panel1 = widget;
    }
    if (const BandPlace* place = BandPlaceOf(name)) {
      widget->setGeometry(place->x, place->y, place->width, place->height);
    }
  }
  layout->addWidget(panel2);
  layout->addWidget(rdPanel);
  rdPanel->setFixedWidth(kBandWidth);

  auto* grid = new QGridLayout(engineering_);
  grid->setContentsMargins(8, 4, 8, 8);
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(4);
  PlaceEngineeringGrid(grid);
  auto* rdGrid = new QGridLayout(rdPanel);
  rdGrid->setContentsMargins(8, 6, 8, 6);
  rdGrid->setHorizontalSpacing(6);
  rdGrid->setVerticalSpacing(4);
  PlaceRdGrid(rdGrid);

  // The rule belongs to the form, drawn over the band under the buttons.
  panel1->setGeometry(kPanel1Place.x, kPanel1Place.y, kPanel1Place.width, kPanel1Place.height);
  panel1->raise();

  // The form's own notices (a held close, where the backup went) get a
  // strip under the rule, so the designed band stays as it is; the window
  // grows by the strip while there is something to say.
  notice_ = new QLabel(panel2);
  notice_->setObjectName(QStringLiteral("NoticeLine"));
  notice_->setTextFormat(Qt::PlainText);
  notice_->setAlignment(Qt::AlignCenter);
  notice_->setWordWrap(true);
  notice_->setContentsMargins(8, 3, 8, 5);
  notice_->setFixedWidth(kBandWidth);
  notice_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  notice_->setFont(DesignerFont(QString::fromLatin1(kMsSansSerif), -11));
  notice_->hide();
  static_cast<QVBoxLayout*>(panel2->layout())->insertWidget(1, notice_);
}

QWidget* FormWindow::CreateWidget(Control& control, QWidget* parent) {
  QWidget* widget = nullptr;
  QLabel* label = nullptr;
  switch (control.Kind()) {
    case ControlKind::Form:
      return this;
    case ControlKind::Panel: {
      auto* frame = new QFrame(parent);
      frame->setFrameShape(QFrame::NoFrame);
      widget = frame;
      break;
    }
    case ControlKind::Label: {
      auto* text = new QLabel(parent);
      text->setTextFormat(Qt::PlainText);  // keeps the leading blanks that centre the notices
      // The power-cycle line stands alone in the band, in its middle.
      if (control.Name() == "replugLable1") text->setAlignment(Qt::AlignCenter);
      widget = text;
      break;
    }
    case ControlKind::Button: {
      auto* button = new QPushButton(parent);
      button->setAutoDefault(false);
      connect(button, &QPushButton::clicked, this, [&control] { control.Click(); });
      widget = button;
      break;
    }
    case ControlKind::CheckBox:
      widget = new ModelCheckBox(control, parent);
      break;
    case ControlKind::ComboBox: {
      auto* combo = new QComboBox(parent);
      connect(combo, &QComboBox::activated, this, [this, &control](int index) {
        control.Select(index);
        Render(control);  // the model may have refused the selection
      });
      widget = combo;
      break;
    }
    case ControlKind::LabeledEdit: {
      auto* edit = new QLineEdit(parent);
      connect(edit, &QLineEdit::textEdited, this, [this, &control](const QString& text) {
        control.Type(text.toStdString());
        Render(control);
      });
      label = new QLabel(Q(control.EditLabel()), parent);
      label->setTextFormat(Qt::PlainText);
      label->setBuddy(edit);
      widget = edit;
      break;
    }
    case ControlKind::ProgressBar: {
      auto* bar = new QProgressBar(parent);
      bar->setTextVisible(false);
      widget = bar;
      break;
    }
  }
  widget->setObjectName(Q(control.Name()));
  bindings_[&control] = {&control, widget, label};
  byName_[control.Name()] = &control;
  return widget;
}

void FormWindow::PlaceInGrid(QGridLayout* grid, const char* name, int row, int column,
                             int columnSpan) {
  const auto it = byName_.find(name);
  if (it == byName_.end()) return;
  const Binding& b = bindings_.at(it->second);
  int fieldColumn = column;
  if (b.label != nullptr) {
    grid->addWidget(b.label, row, column);
    fieldColumn = column + 1;
  }
  grid->addWidget(b.widget, row, fieldColumn, 1, columnSpan);
  // Fields that the information check shows and hides keep their place, so
  // the grid does not jump under the operator's pointer.
  for (QWidget* w : {static_cast<QWidget*>(b.label), b.widget}) {
    if (w == nullptr) continue;
    QSizePolicy policy = w->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    w->setSizePolicy(policy);
  }
}

void FormWindow::PlaceEngineeringGrid(QGridLayout* grid) {
  // Columns: caption, field, caption, field, button.
  auto put = [&](const char* name, int row, int column, int columnSpan = 1) {
    PlaceInGrid(grid, name, row, column, columnSpan);
  };
  put("diskLabel", 0, 0);
  put("DeviceList", 0, 1, 3);
  put("RefreshBtn", 0, 4);
  put("ChipLabelEdit", 1, 0);
  put("DiskLetterLable", 1, 2);
  put("FwVerLableEdit", 2, 0);
  put("SFlashTypeLable", 2, 2);
  put("FwFilenameEdit", 3, 0, 3);
  put("LoadBtn", 3, 4);
  put("FwPgBurnSizeLabel", 4, 0);
  put("FwPgSizeCheck", 4, 1);
  put("FlashTypeLabel", 4, 2);
  // The parallel part's names are long; the row has no button.
  put("FlashTypeList", 4, 3, 2);
  put("StatusEdit", 5, 0, 3);
  put("UpdateBtn", 5, 4);
  put("RdCheckBox", 6, 0, 2);
  put("ExiBtn", 6, 4);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);
}

void FormWindow::PlaceRdGrid(QGridLayout* grid) {
  // Columns: caption, field, field, button.
  auto put = [&](const char* name, int row, int column, int columnSpan = 1) {
    PlaceInGrid(grid, name, row, column, columnSpan);
  };
  put("BackupFWCheckBox", 0, 0, 2);
  put("EraseOnlyCheck", 0, 2, 2);
  put("VQS175HDDFwChk", 1, 0, 2);
  put("A1ChipCheck", 1, 2, 2);
  put("NVRAMCheck", 2, 0, 2);
  put("ChkSumChk", 2, 2, 2);
  put("BackupFileEdit", 3, 0, 2);
  put("BackupBtn", 3, 3);
  put("FwSizeLable", 4, 0);
  put("FwSizeCheck", 4, 1);
  put("VQ175Path", 4, 2);
  grid->setColumnStretch(1, 1);
}

void FormWindow::RenderAll() {
  for (Control* control : form_.Controls()) Render(*control);
  RenderNotice();
}

void FormWindow::RenderNotice() {
  const QString notice = Q(form_.Notice());
  notice_->setText(notice);
  if (!notice.isEmpty()) notice_->setFixedHeight(notice_->heightForWidth(kBandWidth));
  notice_->setVisible(!notice.isEmpty());
}

void FormWindow::Render(const Control& control) {
  const auto it = bindings_.find(&control);
  if (it == bindings_.end()) return;
  const Binding& b = it->second;
  QWidget* w = b.widget;
  const QString text = Q(control.Text());

  if (control.Kind() == ControlKind::Form) {
    setWindowTitle(text);
    ApplyFont(this, control.Font(), false);
    return;
  }
  w->setVisible(control.Visible());
  w->setEnabled(control.Enabled());
  if (b.label != nullptr) {
    b.label->setVisible(control.Visible());
    b.label->setEnabled(control.Enabled());
  }
  switch (control.Kind()) {
    case ControlKind::Form:
      break;
    case ControlKind::Panel:
      if (control.Color() != 0) {
        auto* frame = static_cast<QFrame*>(w);
        QPalette palette = frame->palette();
        palette.setColor(QPalette::Window, ToQColor(control.Color()));
        frame->setPalette(palette);
        frame->setAutoFillBackground(true);
      }
      break;
    case ControlKind::Label:
      static_cast<QLabel*>(w)->setText(text);
      ApplyFont(w, control.Font(), true);
      break;
    case ControlKind::Button:
      static_cast<QPushButton*>(w)->setText(text);
      ApplyFont(w, control.Font(), false);
      break;
    case ControlKind::CheckBox: {
      auto* box = static_cast<QCheckBox*>(w);
      const QSignalBlocker block(box);
      box->setText(text);
      box->setChecked(control.Checked());
      break;
    }
    case ControlKind::ComboBox: {
      auto* combo = static_cast<QComboBox*>(w);
      const QSignalBlocker block(combo);
      QStringList items;
      for (const auto& item : control.Items()) items << Q(item);
      QStringList shown;
      for (int i = 0; i < combo->count(); ++i) shown << combo->itemText(i);
      if (shown != items) {
        combo->clear();
        combo->addItems(items);
      }
      combo->setCurrentIndex(control.ItemIndex());
      ApplyFont(w, control.Font(), false);
      break;
    }
    case ControlKind::LabeledEdit: {
      auto* edit = static_cast<QLineEdit*>(w);
      if (edit->text() != text) edit->setText(text);
      edit->setReadOnly(control.ReadOnly());
      if (control.ShowHint()) edit->setToolTip(text);
      b.label->setText(Q(control.EditLabel()));
      break;
    }
    case ControlKind::ProgressBar: {
      auto* bar = static_cast<QProgressBar*>(w);
      bar->setRange(control.Min(), control.Max());
      bar->setValue(control.Position());
      break;
    }
  }
}

void FormWindow::ModelChanged(const Control& control, ControlProperty property) {
  if (property == ControlProperty::Notice) {
    RenderNotice();
  } else {
    Render(control);
  }
  ScheduleSettle();
}

void FormWindow::ScheduleSettle() {
  if (settleScheduled_) return;
  settleScheduled_ = true;
  QTimer::singleShot(0, this, [this] {
    settleScheduled_ = false;
    emit FaceSettled(form_.Face());
  });
}

void FormWindow::closeEvent(QCloseEvent* event) {
  // The form decides: while an update runs it holds the request and closes
  // the window itself once the device is left in a sound state.
  if (form_.CloseRequested() || form_.RequestClose()) {
    event->accept();
  } else {
    event->ignore();
  }
}

void FormWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!form_.AcceptsDrops() || !event->mimeData()->hasUrls()) return;
  const QList<QUrl> urls = event->mimeData()->urls();
  if (std::all_of(urls.begin(), urls.end(), [](const QUrl& u) { return u.isLocalFile(); })) {
    event->acceptProposedAction();
  }
}

void FormWindow::dropEvent(QDropEvent* event) {
  std::vector<std::string> files;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) files.push_back(url.toLocalFile().toStdString());
  }
  event->acceptProposedAction();
  // The drop ends here; the form's rule (and its message box) runs from the
  // event loop, as after the original platform's drop notification.
  QTimer::singleShot(0, this, [this, files] { form_.OnDropFiles(files); });
}

}  // namespace fwtool::gui
