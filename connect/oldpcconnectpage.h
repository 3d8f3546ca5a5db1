#pragma once

#include <QWidget>

#include "net/pciteminfo.h"

// Placeholder until the role page is built.
class OldPCConnectPage : public QWidget
{
    Q_OBJECT

public:
    explicit OldPCConnectPage(QWidget* parent = nullptr);
    void Load();
    void Unload();

    // The receiver of the latest successful connection; "继续传输" connects to it again.
    PCItemInfo lastTarget;

public slots:
    void connectTo(PCItemInfo info);

signals:
    void Transfer();
    void Done(int code);
};
