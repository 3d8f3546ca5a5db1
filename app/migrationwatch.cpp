#include "app/migrationwatch.h"

#include <QApplication>
#include <QWidget>

#include "common/sleepinhibitor.h"
#include "common/stages.h"
#include "connect/newpcconnectpage.h"
#include "connect/oldpcconnectpage.h"

MigrationWatch::MigrationWatch(QWidget* window) : QObject(window) { }

MigrationWatch::~MigrationWatch() = default;

void MigrationWatch::watchReceiver(NewPCConnectPage* page)
{
    connect(page, &NewPCConnectPage::Transfer, this, &MigrationWatch::started);
    connect(page, &NewPCConnectPage::Done, this, &MigrationWatch::ended);
}

void MigrationWatch::watchSender(OldPCConnectPage* page)
{
    // The sender's Transfer comes with the selection, where the user is busy anyway; its run starts
    // with the transfer view.
    connect(page, &OldPCConnectPage::setCurrentIndex, this, [this](int index) {
        if (index == toInt(SenderView::Transfer)) {
            started();
        }
    });
    connect(page, &OldPCConnectPage::Done, this, &MigrationWatch::ended);
}

void MigrationWatch::started()
{
    if (!awake) {
        awake = std::make_unique<SleepInhibitor>(tr("正在迁移数据，休眠会中断迁移"));
    }
    notifier.started();
}

void MigrationWatch::ended(int code)
{
    awake.reset();
    QString body;
    switch (static_cast<DoneCode>(code)) {
    case DoneCode::ReceiverFinished:
        body = tr("迁移完成，请在旧电脑上查看报告");
        break;
    case DoneCode::SenderFinished:
        body = tr("数据发送完毕，请查看迁移报告");
        break;
    default:
        body = tr("连接断开，迁移没有完成");
        break;
    }
    const QString summary = code == toInt(DoneCode::ConnectionFailed) ? tr("迁移中断") : tr("迁移完成");
    // Any window of ours in front (the window itself, or the box telling of a failure) means the user sees it.
    notifier.ended(QApplication::activeWindow() != nullptr, summary, body);
}

void MigrationWatch::stopped()
{
    awake.reset();
    notifier.forget();
}
