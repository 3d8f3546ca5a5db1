#include "connect/pcpairpage.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMovie>
#include <QStringList>

#include "connect/receiver/pairingcode.h"
#include "ui_pcpairpage.h"

PCPairPage::PCPairPage(QWidget* parent) : QWidget(parent), ui(new Ui::PCPairPage)
{
    ui->setupUi(this);
    ui->horizontalLayout->setAlignment(Qt::AlignHCenter);
    ui->horizontalLayout_2->setAlignment(Qt::AlignHCenter);
    auto* loading = new QMovie(QStringLiteral(":/icons/icons/loading.gif"), QByteArray(), this);
    ui->label_3->setMovie(loading);
    loading->start();
    setAccessibleName(tr("配对码"));
    channel = new QLabel(this);
    channel->setObjectName(QStringLiteral("channel"));
    channel->setAlignment(Qt::AlignHCenter);
    channel->hide();
    ui->verticalLayout->addWidget(channel);
    updateAccessibleText();
}

void PCPairPage::setChannelText(const QString& text)
{
    channel->setText(text);
    channel->setVisible(!text.isEmpty());
    updateAccessibleText();
}

QString PCPairPage::channelText() const
{
    return channel->text();
}

void PCPairPage::updateAccessibleText()
{
    QStringList digits;
    for (int i = 0; i < 6; ++i) {
        if (!box(i)->text().isEmpty()) {
            digits << box(i)->text();
        }
    }
    QString text = ui->label->text();
    if (!digits.isEmpty()) {
        text = tr("%1：%2").arg(text, digits.join(QLatin1Char(' ')));
    }
    if (channel && !channel->text().isEmpty()) {
        text += QLatin1Char('\n') + channel->text();
    }
    setAccessibleDescription(text);
}

PCPairPage::~PCPairPage()
{
    delete ui;
}

QLabel* PCPairPage::box(int index) const
{
    return static_cast<QLabel*>(ui->horizontalLayout->itemAt(index)->widget());
}

void PCPairPage::setForNewPC()
{
    showsOwnCode = true;
    ui->label->setText(tr("请在旧电脑输入配对码"));
    code(QString::fromStdString(getPairingCode()));
    updateAccessibleText();
}

void PCPairPage::setForOldPC()
{
    showsOwnCode = false;
    code(QString());
    ui->label->setText(tr("请输入新电脑的配对码"));
    updateAccessibleText();
}

QString PCPairPage::code() const
{
    QString text;
    for (int i = 0; i < 6; ++i) {
        text += box(i)->text();
    }
    return text;
}

void PCPairPage::code(QString text)
{
    if (text.size() > 5) {
        for (int i = 0; i < 6; ++i) {
            box(i)->setText(QString::number(text.at(i).unicode() - '0'));
        }
        updateAccessibleText();
        return;
    }
    for (int i = 0; i < 6; ++i) {
        box(i)->clear();
    }
    count = 0;
    updateAccessibleText();
}

void PCPairPage::keyPressEvent(QKeyEvent* event)
{
    // The receiver's shown code is the one it accepts; typing must not change what the user reads out.
    if (showsOwnCode) {
        event->ignore();
        return;
    }
    const int key = event->key();
    const bool digit = key >= Qt::Key_0 && key <= Qt::Key_9;
    if (count < 6 && digit) {
        box(count)->setText(QString::number(key - Qt::Key_0));
        ++count;
        updateAccessibleText();
        if (count == 6) {
            emit codeReady(code());
        }
        return;
    }
    if (count > 0 && key == Qt::Key_Backspace) {
        --count;
        box(count)->clear();
        updateAccessibleText();
    }
}
