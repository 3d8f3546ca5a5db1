#pragma once

#include <QWidget>

// Placeholder until the role page is built.
class OldPCConnectPage : public QWidget
{
    Q_OBJECT

public:
    explicit OldPCConnectPage(QWidget* parent = nullptr);
    void Load();
    void Unload();

signals:
    void Transfer();
    void Done(int code);
};
