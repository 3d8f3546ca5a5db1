#include "app/migrationwatch.h"

#include "common/sleepinhibitor.h"
#include "common/stages.h"
#include "connect/newpcconnectpage.h"
#include "connect/oldpcconnectpage.h"

MigrationWatch::MigrationWatch(QObject* parent) : QObject(parent) { }

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
        awake = std::make_unique<SleepInhibitor>(QStringLiteral("正在迁移数据，休眠会中断迁移"));
    }
}

void MigrationWatch::ended(int code)
{
    static_cast<void>(code);
    awake.reset();
}

void MigrationWatch::stopped()
{
    awake.reset();
}
