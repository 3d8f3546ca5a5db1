#include "testmain.h"

#include <memory>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTextDocument>
#include <QVBoxLayout>

#include "faketools.h"
#include "select/listitem.h"
#include "select/listview.h"
#include "select/selectdataview.h"

namespace {

QAccessibleInterface* cellOf(QWidget* view, int row)
{
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(view);
    if (!list || row >= list->childCount())
        return nullptr;
    return list->child(row);
}

QCheckBox* boxOf(ListItem* row)
{
    return row->findChild<QCheckBox*>(QStringLiteral("checkBox"));
}

QString plainToolTip(const QWidget* widget)
{
    QTextDocument document;
    document.setHtml(widget->toolTip());
    return document.toPlainText();
}

} // namespace

class TestAccessibleRows : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Offscreen has no platform bridge, so this stays false; the interfaces are built all the same.
        QAccessible::setActive(true);
    }

    void listWidgetRowsHaveNamesAndStates()
    {
        QListWidget list;
        ListItem* home = listWidgetAddItem(&list, QStringLiteral("用户数据"), QStringLiteral("user"), nullptr);
        ListItem* conf = listWidgetAddItem(&list, QStringLiteral("系统设置"), QStringLiteral("computer"), nullptr);
        list.resize(300, 200);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));

        QAccessibleInterface* first = cellOf(&list, 0);
        QAccessibleInterface* second = cellOf(&list, 1);
        QVERIFY(first && second);
        QCOMPARE(first->text(QAccessible::Name), QStringLiteral("用户数据"));
        QCOMPARE(second->text(QAccessible::Name), QStringLiteral("系统设置"));
        QVERIFY(first->state().checkable);
        QVERIFY(!first->state().checked);

        QTest::mouseClick(boxOf(home), Qt::LeftButton);
        QVERIFY(home->isChecked());
        QVERIFY(cellOf(&list, 0)->state().checked);
        QVERIFY(!cellOf(&list, 1)->state().checked);

        conf->setChecked(true);
        QVERIFY(cellOf(&list, 1)->state().checked);
        QTest::mouseClick(boxOf(home), Qt::LeftButton);
        QVERIFY(!cellOf(&list, 0)->state().checked);

        // The check box reads as the row it belongs to.
        QAccessibleInterface* box = QAccessible::queryAccessibleInterface(boxOf(home));
        QCOMPARE(box->text(QAccessible::Name), QStringLiteral("用户数据"));
    }

    void spaceTogglesAListWidgetRow()
    {
        QListWidget list;
        ListItem* row = listWidgetAddItem(&list, QStringLiteral("/"), QStringLiteral("disk"), nullptr);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        QSignalSpy checkedSpy(row, &ListItem::checked);
        list.setFocus();
        list.setCurrentRow(0);

        QTest::keyClick(&list, Qt::Key_Space);
        QVERIFY(row->isChecked());
        QCOMPARE(checkedSpy.count(), 1);
        QCOMPARE(checkedSpy.at(0).at(0).toBool(), true);
        QVERIFY(cellOf(&list, 0)->state().checked);

        QTest::keyClick(&list, Qt::Key_Space);
        QVERIFY(!row->isChecked());
        QCOMPARE(checkedSpy.count(), 2);
        QCOMPARE(checkedSpy.at(1).at(0).toBool(), false);
    }

    void listViewRowsHaveNamesStatesAndSpace()
    {
        ListView view;
        ListItem* files = view.addItem(QStringLiteral("/home/user/文档"), QStringLiteral("folder"), nullptr, true);
        view.addItem(QStringLiteral("/home/user/a.txt"), QStringLiteral("file"), nullptr, true);
        view.resize(500, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QListView* list = view.getList();

        QCOMPARE(cellOf(list, 0)->text(QAccessible::Name), QStringLiteral("/home/user/文档"));
        QCOMPARE(cellOf(list, 1)->text(QAccessible::Name), QStringLiteral("/home/user/a.txt"));
        QVERIFY(!cellOf(list, 0)->state().checked);

        QTest::mouseClick(boxOf(files), Qt::LeftButton);
        QVERIFY(cellOf(list, 0)->state().checked);
        QCOMPARE(view.checkedCount, 1);

        QSignalSpy itemSpy(&view, &ListView::itemChecked);
        list->setFocus();
        list->setCurrentIndex(list->model()->index(1, 0));
        QTest::keyClick(list, Qt::Key_Space);
        QVERIFY(view.item(1)->isChecked());
        QVERIFY(cellOf(list, 1)->state().checked);
        QCOMPARE(view.checkedCount, 2);
        QCOMPARE(itemSpy.count(), 1);
        QCOMPARE(itemSpy.at(0).at(0).value<ListItem*>(), view.item(1));

        QTest::keyClick(list, Qt::Key_Space);
        QVERIFY(!view.item(1)->isChecked());
        QCOMPARE(view.checkedCount, 1);
    }

    void longPathIsCutInTheMiddle()
    {
        const QString path
            = QStringLiteral("/home/olduser/Documents/projects/2024/a-rather-long-folder-name/report <final>.odt");
        QWidget frame;
        auto* layout = new QVBoxLayout(&frame);
        auto* row = new ListItem(path, QStringLiteral("file"), nullptr, &frame);
        layout->addWidget(row);
        frame.resize(260, 60);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));

        const QLabel* label = row->findChild<QLabel*>(QStringLiteral("label"));
        const QString shown = label->text();
        const int cut = shown.indexOf(QChar(0x2026));
        QVERIFY2(cut > 0 && cut < shown.size() - 1, qPrintable(shown));
        QVERIFY(path.startsWith(shown.left(cut)));
        QVERIFY(path.endsWith(shown.mid(cut + 1)));
        QVERIFY(shown.endsWith(QStringLiteral(".odt")));
        QVERIFY(label->fontMetrics().horizontalAdvance(shown) <= label->contentsRect().width());
        QCOMPARE(row->text(), path);
        QCOMPARE(plainToolTip(row), path);

        // Wide enough again, the whole path shows.
        frame.resize(1600, 60);
        QTRY_COMPARE(label->text(), path);
    }

    void selectionPageRowsKeysAndTabs()
    {
        FakeTools tools;
        SelectDataView page;
        page.resize(1100, 640);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        auto* fileList = page.findChild<QListWidget*>(QStringLiteral("fileList"));
        auto* confList = page.findChild<QListWidget*>(QStringLiteral("confList"));
        auto* start = page.findChild<QPushButton*>(QStringLiteral("pushButton"));
        QVERIFY(fileList && confList && start);

        QCOMPARE(cellOf(fileList, 0)->text(QAccessible::Name), QStringLiteral("/"));
        QCOMPARE(cellOf(confList, 0)->text(QAccessible::Name), QStringLiteral("用户数据"));
        QCOMPARE(cellOf(confList, 1)->text(QAccessible::Name), QStringLiteral("系统设置"));
        QCOMPARE(cellOf(confList, 2)->text(QAccessible::Name), QStringLiteral("应用程序"));
        QCOMPARE(QAccessible::queryAccessibleInterface(start)->text(QAccessible::Name), QStringLiteral("开始传输"));

        // Every stop of the form is reached by Tab, the lists before the start button.
        QVERIFY(fileList->focusPolicy() & Qt::TabFocus);
        QVERIFY(confList->focusPolicy() & Qt::TabFocus);
        QVERIFY(start->focusPolicy() & Qt::TabFocus);
        fileList->setFocus();
        QTRY_VERIFY(fileList->hasFocus());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QTRY_VERIFY(confList->hasFocus());

        // Space on "应用程序" checks it as a click would: the applications page comes up.
        confList->setCurrentRow(2);
        QTest::keyClick(confList, Qt::Key_Space);
        auto* appRow = qobject_cast<ListItem*>(confList->itemWidget(confList->item(2)));
        QVERIFY(appRow->isChecked());
        QCOMPARE(page.findChild<QStackedWidget*>(QStringLiteral("view"))->currentIndex(), 1);
        QTest::keyClick(confList, Qt::Key_Space);
        QVERIFY(!appRow->isChecked());

        // Enter presses the start button.
        QSignalSpy pressed(start, &QPushButton::clicked);
        QTest::keyClick(confList, Qt::Key_Return);
        QCOMPARE(pressed.count(), 1);
    }
};

MOVANTA_TEST_MAIN(TestAccessibleRows)
#include "tst_accessiblerows.moc"
