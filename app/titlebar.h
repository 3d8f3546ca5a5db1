#pragma once

#include <QPoint>
#include <QString>
#include <QStringList>
#include <QWidget>

namespace Ui {
class TitleBar;
}

// The command that opens the user manual.
struct HelpCommand
{
    QString program;
    QStringList arguments;
};

// Stands in for the window frame: logo and name, help, minimise, close, and dragging the window.
class TitleBar : public QWidget
{
    Q_OBJECT

public:
    explicit TitleBar(QWidget* parent = nullptr);
    ~TitleBar() override;

    // The manual lies beside the executable in exeDir (absolute, no trailing separator).
    static HelpCommand helpCommand(const QString& exeDir);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private slots:
    void on_minBtn_clicked();
    void on_closeBtn_clicked();
    void on_helpBtn_clicked();

private:
    Ui::TitleBar* ui;
    QPoint lastGlobalPos;
    bool pressed;
};
