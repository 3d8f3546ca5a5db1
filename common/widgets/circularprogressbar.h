#pragma once

#include <QWidget>

// A percentage painted as a ring with the number in its middle.
class CircularProgressBar : public QWidget
{
    Q_OBJECT

public:
    explicit CircularProgressBar(QWidget* parent = nullptr);

    // Span of the blue arc in sixteenths of a degree; negative runs clockwise.
    static int arcSpan(int progress);

    // Written by the owner, who then asks for a repaint (or calls setProgress, which does both).
    int progress;

    // Sets the percentage, tells screen readers and repaints.
    void setProgress(int value);

protected:
    void paintEvent(QPaintEvent* event) override;
};
