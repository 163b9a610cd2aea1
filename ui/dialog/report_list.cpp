#include "ui/dialog/report_list.h"

#include <QHeaderView>
#include <QMouseEvent>

TlReportList::TlReportList(QWidget* parent) : QTreeWidget(parent) {
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
}

void TlReportList::mousePressEvent(QMouseEvent* event) {
    if (itemAt(event->position().toPoint()) == nullptr) {
        clearSelection();
        event->accept();
        return;
    }
    QTreeWidget::mousePressEvent(event);
}
