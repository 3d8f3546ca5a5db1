#pragma once

#include <QWidget>

namespace Ui {
class ChoosePC;
}

// Page 0 of the wizard: two cards, one per role; reports the card the user clicks.
class ChoosePC : public QWidget
{
    Q_OBJECT

public:
    explicit ChoosePC(QWidget* parent = nullptr);
    ~ChoosePC() override;

signals:
    // 0 for the receiver card, 1 for the sender card; sent on every click, also on the chosen card.
    void pcTypeSelected(short pcType);

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    Ui::ChoosePC* ui;
};
