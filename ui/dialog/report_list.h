#pragma once

#include <QTreeWidget>

// A list of rows with columns and a header, as the desktop's report-view list: a click on empty
// space below the rows clears the selection, so that "nothing selected" can be chosen with the
// mouse.
class TlReportList : public QTreeWidget {
    Q_OBJECT
  public:
    explicit TlReportList(QWidget* parent = nullptr);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
};
