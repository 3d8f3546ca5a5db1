#pragma once

#include <QList>
#include <QObject>

class NewPCConnectPage;

// The receiver page's Transfer and Done as the wizard gets them: queued to the GUI thread, so the test
// reads them on the thread that writes them.
class PageSignals : public QObject
{
    Q_OBJECT

public:
    explicit PageSignals(NewPCConnectPage* page);

    QList<int> done;
    int transfers = 0;
};
