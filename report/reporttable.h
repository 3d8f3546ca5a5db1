#pragma once

#include <QTableWidget>

// A table of the report that asks for room for its header and its first rows, not for a fixed height:
// the page then shows both tables' first rows at its own size, and a table grows only when the window does.
class ReportTable : public QTableWidget
{
    Q_OBJECT

public:
    using QTableWidget::QTableWidget;

    // Rows the table asks for at its preferred size; at its smallest it still shows the first one.
    static constexpr int preferredRows = 3;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void rowsInserted(const QModelIndex& parent, int start, int end) override;
    void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override;

private:
    int heightFor(int rows) const;
};
