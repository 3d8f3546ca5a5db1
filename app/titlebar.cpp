#include "app/titlebar.h"

#include <QApplication>
#include <QMouseEvent>

#include "app/exitnow.h"
#include "common/processrunner.h"
#include "ui_titlebar.h"

TitleBar::TitleBar(QWidget* parent) : QWidget(parent), ui(new Ui::TitleBar), lastGlobalPos(0, 0), pressed(false)
{
    ui->setupUi(this);
}

TitleBar::~TitleBar()
{
    delete ui;
}

HelpCommand TitleBar::helpCommand(const QString& exeDir)
{
    // One argument, never a shell line: the directory may hold blanks or shell characters.
    return HelpCommand {"xdg-open", {exeDir + "/Movanta使用说明.pdf"}};
}

void TitleBar::mousePressEvent(QMouseEvent* event)
{
    pressed = event->button() == Qt::LeftButton;
    lastGlobalPos = event->screenPos().toPoint();
}

void TitleBar::mouseMoveEvent(QMouseEvent* event)
{
    if (!pressed)
        return;
    QWidget* mainWidget = parentWidget();
    QWidget* window = mainWidget ? mainWidget->parentWidget() : nullptr;
    const QPoint global = event->screenPos().toPoint();
    // Move by each step's displacement, so the spot under the mouse stays under it.
    if (window)
        window->move(window->pos() + (global - lastGlobalPos));
    lastGlobalPos = global;
}

void TitleBar::mouseReleaseEvent(QMouseEvent*)
{
    pressed = false;
}

void TitleBar::on_minBtn_clicked()
{
    QWidget* active = QApplication::activeWindow();
    if (!active)
        active = window();
    active->showMinimized();
}

void TitleBar::on_closeBtn_clicked()
{
    exitNow();
}

void TitleBar::on_helpBtn_clicked()
{
    const HelpCommand command = helpCommand(QCoreApplication::applicationDirPath());
    std::vector<std::string> arguments;
    for (const QString& argument : command.arguments)
        arguments.push_back(argument.toStdString());
    // Not waited for: the window stays usable while the viewer is open. A missing manual or viewer fails
    // quietly; the result is not looked at.
    Process::startDetached(command.program.toStdString(), arguments);
}
