#pragma once

#include <unordered_map>

#include <QWidget>

#include "net/pciteminfo.h"

namespace Ui {
class OldPCView;
}

// The sender's list of receivers heard on the network, one card per receiver.
class OldPCView : public QWidget
{
    Q_OBJECT

public:
    explicit OldPCView(QWidget* parent = nullptr);
    ~OldPCView() override;

    // Takes the table (the caller holds its lock) and rebuilds every card when what the cards show
    // differs from the last table taken. False when a rebuild is already under way.
    bool TryUpdateView(std::unordered_map<unsigned, PCItemInfo>& table);

signals:
    void pcItemSelected(PCItemInfo info);

private:
    Ui::OldPCView* ui;
    std::unordered_map<unsigned, PCItemInfo> hosts;
    bool updating = false;
};
