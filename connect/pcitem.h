#pragma once

#include <QFrame>

#include "net/pciteminfo.h"

namespace Ui {
class PCItem;
}

// One receiver card in the sender's list: picture, host name and address. A click anywhere picks it.
class PCItem : public QFrame
{
    Q_OBJECT

public:
    explicit PCItem(const PCItemInfo& itemInfo, QWidget* parent = nullptr);
    ~PCItem() override;

    PCItemInfo itemInfo() const;

signals:
    void selected(PCItemInfo itemInfo);

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    Ui::PCItem* ui;
    PCItemInfo info;
};
