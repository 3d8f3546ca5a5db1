// A Qt generic plugin loaded into the installed program by the package test
// (QT_QPA_GENERIC_PLUGINS=movantahelpclicker): once the window is up it presses the title bar's help
// button and records in $MOVANTA_HELPCLICK_LOG whether it found one.

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QGenericPlugin>
#include <QTimer>

class HelpClicker : public QObject
{
public:
    explicit HelpClicker(QObject* parent) : QObject(parent)
    {
        QTimer::singleShot(1500, this, [this]() { pressHelp(); });
    }

private:
    void pressHelp()
    {
        QAbstractButton* help = nullptr;
        for (QWidget* window : QApplication::topLevelWidgets()) {
            help = help ? help : window->findChild<QAbstractButton*>(QStringLiteral("helpBtn"));
        }
        QFile log(QString::fromLocal8Bit(qgetenv("MOVANTA_HELPCLICK_LOG")));
        if (log.open(QIODevice::WriteOnly | QIODevice::Append)) {
            log.write(help ? "pressed\n" : "no help button\n");
            log.close();
        }
        if (help) {
            help->click();
        }
    }
};

class HelpClickerPlugin : public QGenericPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "helpclicker.json")

public:
    QObject* create(const QString& key, const QString& parameters) override
    {
        Q_UNUSED(parameters)
        return key.compare(QLatin1String("movantahelpclicker"), Qt::CaseInsensitive) == 0 ? new HelpClicker(qApp)
                                                                                          : nullptr;
    }
};

#include "helpclicker.moc"
