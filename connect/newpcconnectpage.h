#pragma once

#include <QWidget>

// Placeholder until the role page is built.
class NewPCConnectPage : public QWidget
{
    Q_OBJECT

public:
    explicit NewPCConnectPage(QWidget* parent = nullptr);
    void Load();
    void Unload();

signals:
    void Transfer();
    void Done(int code);
};
