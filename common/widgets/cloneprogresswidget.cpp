#include "common/widgets/cloneprogresswidget.h"

#include "common/stages.h"
#include "ui_cloneprogresswidget.h"

namespace {
// The icons are circles: a fixed square keeps them round whatever room the window leaves the row.
constexpr int IconSide = 48;
const char* const greyCaption = "color:#999;";
const char* const greyLine = "background-color:#D1D1D1D1;";
} // namespace

CloneProgressWidget::CloneProgressWidget(QWidget* parent) : QWidget(parent), ui(new Ui::CloneProgressWidget)
{
    ui->setupUi(this);
    for (QLabel* icon : {ui->iconLabel_1, ui->iconLabel_2, ui->iconLabel_3, ui->iconLabel_4})
        icon->setFixedSize(IconSide, IconSide);
    updateAccessibleText(toInt(Stage::Pairing));
    // Engines emit from worker threads; the automatic connection queues those to the GUI thread.
    connect(this, &CloneProgressWidget::changeProgress, this, &CloneProgressWidget::setProgress, Qt::AutoConnection);
}

CloneProgressWidget::~CloneProgressWidget()
{
    delete ui;
}

void CloneProgressWidget::setProgress(int stage)
{
    if (stage < toInt(Stage::Pairing) || stage > toInt(Stage::Done))
        return;
    const auto reached = [stage](Stage step) { return stage >= toInt(step); };

    // Stage 1 and line_1 are always blue; their style sheets are the highlighted look the others copy.
    const QString blueCaption = ui->textLabel_1->styleSheet();
    const QString blueLine = ui->line_1->styleSheet();

    ui->iconLabel_1->setPixmap(QPixmap(":/icons/icons/pair_highlight.png"));

    ui->iconLabel_2->setPixmap(
        QPixmap(reached(Stage::Selection) ? ":/icons/icons/selectdata_highlight.png" : ":/icons/icons/selectdata.png"));
    ui->textLabel_2->setStyleSheet(reached(Stage::Selection) ? blueCaption : greyCaption);
    ui->line_2->setStyleSheet(reached(Stage::Selection) ? blueLine : greyLine);

    ui->iconLabel_3->setPixmap(
        QPixmap(reached(Stage::Transfer) ? ":/icons/icons/transfer_highlight.png" : ":/icons/icons/transfer.png"));
    ui->textLabel_3->setStyleSheet(reached(Stage::Transfer) ? blueCaption : greyCaption);
    ui->line_3->setStyleSheet(reached(Stage::Transfer) ? blueLine : greyLine);

    ui->iconLabel_4->setPixmap(
        QPixmap(reached(Stage::Done) ? ":/icons/icons/done_highlight.png" : ":/icons/icons/done.png"));
    ui->textLabel_4->setStyleSheet(reached(Stage::Done) ? blueCaption : greyCaption);
    updateAccessibleText(stage);
}

void CloneProgressWidget::updateAccessibleText(int stage)
{
    const QLabel* captions[] = {ui->textLabel_1, ui->textLabel_2, ui->textLabel_3, ui->textLabel_4};
    setAccessibleName(tr("迁移步骤"));
    setAccessibleDescription(tr("第 %1 步，共 4 步：%2").arg(stage).arg(captions[stage - 1]->text()));
}
