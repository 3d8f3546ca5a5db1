#pragma once

#include <QWidget>

namespace Ui {
class CloneProgressWidget;
}

// The four-stage step indicator above both role pages.
class CloneProgressWidget : public QWidget
{
    Q_OBJECT

public:
    explicit CloneProgressWidget(QWidget* parent = nullptr);
    ~CloneProgressWidget() override;

signals:
    // A Stage value (common/stages.h); any thread may emit it, the stage is shown on the GUI thread.
    void changeProgress(int stage);

public slots:
    // Stages outside Stage's range are ignored.
    void setProgress(int stage);

private:
    // Tells screen readers which stage is current (1 to 4).
    void updateAccessibleText(int stage);

    Ui::CloneProgressWidget* ui;
};
