#pragma once

#include <QString>
#include <QWidget>

namespace Ui {
class PCPairPage;
}

class QKeyEvent;
class QLabel;

// The pairing page of both roles. The receiver draws its code once and shows it; the sender fills six
// boxes from the keyboard and offers the code each time the sixth digit is typed.
class PCPairPage : public QWidget
{
    Q_OBJECT

public:
    explicit PCPairPage(QWidget* parent = nullptr);
    ~PCPairPage() override;

    // Receiver: draws a new code and shows it.
    void setForNewPC();
    // Sender: empties the boxes and asks for the receiver's code.
    void setForOldPC();

    // The six boxes' texts, in order.
    QString code() const;
    // Shows the first six characters as digits; a shorter text empties the boxes.
    void code(QString text);
    // Whether the connection is encrypted, in a line under the boxes; empty hides it.
    void setChannelText(const QString& text);
    QString channelText() const;

signals:
    void codeReady(QString _code);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QLabel* box(int index) const;
    // Screen readers read the six boxes as one code, with the line above them.
    void updateAccessibleText();

    Ui::PCPairPage* ui;
    QLabel* channel = nullptr;
    int count = 0;
    // Set by setForNewPC: the boxes hold the receiver's own code and keys leave them alone.
    bool showsOwnCode = false;
};
