// SPDX-License-Identifier: GPL-2.0-or-later
// The main window: a Qt Widgets view of the form model. Every control of the
// form is a widget under the control's designer name; a change in the model
// repaints its widget, and the operator's clicks, selections and edits go to
// the control's handler through the model. Drops of files, the close box and
// the form's own close request meet the form's rules here.
#pragma once

#include <QtWidgets/QWidget>
#include <map>
#include <vector>

#include "Fwupdate.h"
#include "form_views.h"

class QLabel;
class QFrame;
class QGridLayout;

namespace fwtool::gui {

class FormWindow : public QWidget {
  Q_OBJECT

 public:
  // The form must outlive the window. `engineering` lays out the engineering
  // face below the one-click band (the controls show as the model says; see
  // ShowEngineeringFace).
  FormWindow(TV77xFwTool& form, bool engineering, QWidget* parent = nullptr);
  ~FormWindow() override;

  TV77xFwTool& Form() { return form_; }
  // The widget that renders the control `name` (for a labelled edit: its
  // field), or null.
  QWidget* WidgetFor(const std::string& name) const;
  // The caption widget of a labelled edit, or null.
  QLabel* EditLabelFor(const std::string& name) const;
  // The strip under the band with the form's own notices.
  QLabel* NoticeLabel() const { return notice_; }

 signals:
  // The face of the one-click band after the model settled (coalesced:
  // emitted once per burst of changes, from the event loop).
  void FaceSettled(fwtool::OneClickFace face);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  struct Binding {
    Control* control = nullptr;
    QWidget* widget = nullptr;  // the control itself (the field of a labelled edit)
    QLabel* label = nullptr;    // a labelled edit's caption
  };

  void Build(bool engineering);
  QWidget* CreateWidget(Control& control, QWidget* parent);
  void PlaceInGrid(QGridLayout* grid, const char* name, int row, int column, int columnSpan);
  void PlaceEngineeringGrid(QGridLayout* grid);
  void PlaceRdGrid(QGridLayout* grid);
  void Render(const Control& control);
  void RenderAll();
  void RenderNotice();
  void ModelChanged(const Control& control, ControlProperty property);
  void ScheduleSettle();

  TV77xFwTool& form_;
  int subscription_ = 0;
  std::map<const Control*, Binding> bindings_;
  std::map<std::string, const Control*> byName_;
  QWidget* band_ = nullptr;
  QWidget* engineering_ = nullptr;
  QLabel* notice_ = nullptr;
  bool settleScheduled_ = false;
};

}  // namespace fwtool::gui
