#include "testmain.h"

#include <string>

#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "select/listitem.h"

class TestListItem : public QObject
{
    Q_OBJECT

private slots:
    void constructorsFillTheRow()
    {
        const std::string package = "org.example.viewer";
        ListItem row(QStringLiteral("图片查看器"), QStringLiteral("cube"), &package);
        QCOMPARE(row.text(), QStringLiteral("图片查看器"));
        QCOMPARE(row.findChild<QLabel*>("label")->text(), QStringLiteral("图片查看器"));
        QCOMPARE(row.iconName(), QStringLiteral("cube"));
        QCOMPARE(row.model(), static_cast<const void*>(&package));
        QVERIFY(!row.isChecked());

        ListItem bare(static_cast<const void*>(&package), nullptr);
        QCOMPARE(bare.model(), static_cast<const void*>(&package));
        bare.model(nullptr);
        QCOMPARE(bare.model(), nullptr);
    }

    void iconSources_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("hasPicture");
        QTest::newRow("built-in folder image") << "folder" << true;
        QTest::newRow("built-in wps image") << "wps" << true;
        QTest::newRow("unknown built-in name") << "no-such-image" << false;
        QTest::newRow("empty name clears") << "" << false;
        QTest::newRow("file path") << "@file" << true;
        QTest::newRow("missing file path") << "/nonexistent/icon.png" << false;
    }
    void iconSources()
    {
        QFETCH(QString, name);
        QFETCH(bool, hasPicture);
        QTemporaryDir dir;
        if (name == "@file") {
            QImage image(8, 8, QImage::Format_ARGB32);
            image.fill(Qt::red);
            name = dir.filePath("icon.png");
            QVERIFY(image.save(name));
        }
        ListItem row;
        // The form shows the disk image until an icon is given.
        QVERIFY(!row.findChild<QLabel*>("icon")->pixmap(Qt::ReturnByValue).isNull());
        row.setIcon(name);
        QCOMPARE(!row.findChild<QLabel*>("icon")->pixmap(Qt::ReturnByValue).isNull(), hasPicture);
        QCOMPARE(row.iconName(), name);
    }

    void setCheckedEmitsEveryTime()
    {
        ListItem row;
        QSignalSpy spy(&row, &ListItem::checked);
        row.setChecked(true);
        row.setChecked(true);
        row.setChecked(false);
        QCOMPARE(spy.count(), 3);
        QCOMPARE(spy.at(0).at(0).toBool(), true);
        QCOMPARE(spy.at(1).at(0).toBool(), true);
        QCOMPARE(spy.at(2).at(0).toBool(), false);
        QVERIFY(!row.isChecked());
    }

    void clickingTheBoxEmitsChecked()
    {
        ListItem row(QStringLiteral("文档"), QStringLiteral("folder"), nullptr);
        row.show();
        QSignalSpy spy(&row, &ListItem::checked);
        auto* box = row.findChild<QCheckBox*>("checkBox");
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(box->width() / 2, box->height() / 2));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toBool(), true);
        QVERIFY(row.isChecked());
    }

    void listWidgetAddItemPlacesAFixedRow()
    {
        QListWidget list;
        const std::string mount = "/";
        ListItem* first = listWidgetAddItem(&list, QStringLiteral("用户数据"), QStringLiteral("user"), nullptr);
        ListItem* second = listWidgetAddItem(&list, QStringLiteral("/"), QStringLiteral("disk"), &mount);
        QCOMPARE(list.count(), 2);
        QCOMPARE(list.itemWidget(list.item(0)), first);
        QCOMPARE(list.itemWidget(list.item(1)), second);
        QCOMPARE(first->height(), 38);
        QCOMPARE(first->minimumHeight(), 38);
        QCOMPARE(first->maximumHeight(), 38);
        QCOMPARE(list.item(0)->sizeHint().height(), 38);
        QCOMPARE(first->text(), QStringLiteral("用户数据"));
        QCOMPARE(first->iconName(), QStringLiteral("user"));
        QCOMPARE(second->model(), static_cast<const void*>(&mount));
    }
};

MOVANTA_TEST_MAIN(TestListItem)
#include "tst_listitem.moc"
