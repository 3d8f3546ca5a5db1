#include "report/reporttable.h"

#include <algorithm>

#include <QHeaderView>
#include <QTimer>

QSize ReportTable::sizeHint() const
{
    return QSize(QTableWidget::sizeHint().width(), heightFor(std::clamp(rowCount(), 1, preferredRows)));
}

QSize ReportTable::minimumSizeHint() const
{
    return QSize(QTableWidget::minimumSizeHint().width(), heightFor(1));
}

int ReportTable::heightFor(int rows) const
{
    int height = 0;
    for (int row = 0; row < rows; ++row) {
        height += row < rowCount() ? rowHeight(row) : verticalHeader()->defaultSectionSize();
    }
    if (!horizontalHeader()->isHidden()) {
        height += horizontalHeader()->sizeHint().height();
    }
    const QMargins margins = contentsMargins();
    return height + margins.top() + margins.bottom() + 2 * frameWidth();
}

void ReportTable::rowsInserted(const QModelIndex& parent, int start, int end)
{
    QTableWidget::rowsInserted(parent, start, end);
    updateGeometry();
}

void ReportTable::rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end)
{
    QTableWidget::rowsAboutToBeRemoved(parent, start, end);
    // The count changes only after this returns.
    QTimer::singleShot(0, this, [this] { updateGeometry(); });
}
