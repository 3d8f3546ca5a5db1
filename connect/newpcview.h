#pragma once

#include <QWidget>

namespace Ui {
class NewPCView;
}

// The receiver's waiting page: which name the old computer will see it under, and its IPv4 address.
class NewPCView : public QWidget
{
    Q_OBJECT

public:
    explicit NewPCView(QWidget* parent = nullptr);
    ~NewPCView() override;

    // Whether to say that the port is taken by another program (nobody can connect then).
    void showListenFailure(bool failed);

private:
    Ui::NewPCView* ui;
};
