#include "testmain.h"

#include <string>
#include <thread>
#include <vector>

#include <QCheckBox>
#include <QLineEdit>
#include <QListView>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>

#include "select/listitem.h"
#include "select/listmodel.h"
#include "select/listview.h"

namespace {

QStringList shownTexts(ListView& view)
{
    QStringList texts;
    for (int row = 0; row < view.count(); ++row) {
        const bool hidden = view.getList()->isRowHidden(row);
        // The row in the view and its widget always agree.
        if (hidden != view.item(row)->isHidden()) {
            return {QStringLiteral("row and widget disagree at %1").arg(row)};
        }
        if (!hidden) {
            texts << view.item(row)->text();
        }
    }
    return texts;
}

void clickBox(QWidget* box)
{
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
}

} // namespace

class TestListView : public QObject
{
    Q_OBJECT

    // Model texts behind some rows, as an application row points at its package name.
    std::vector<std::string> packages {"gimp", "libreoffice-writer", "vlc"};

private slots:
    void startsEmptyWithSearchOn()
    {
        ListView view;
        QCOMPARE(view.count(), 0);
        QCOMPARE(view.checkedCount, 0);
        QVERIFY(view.deletable);
        QVERIFY(view.findChild<QPushButton*>("deleteBtn")->isHidden());
        QCOMPARE(view.findChild<QLineEdit*>("lineEdit")->placeholderText(), QStringLiteral("搜索"));
        QVERIFY(view.findChild<QLineEdit*>("lineEdit")->isEnabled());
    }

    void addItemUniqueness_data()
    {
        QTest::addColumn<bool>("unique");
        QTest::addColumn<bool>("secondAdded");
        QTest::newRow("unique refuses a listed text") << true << false;
        QTest::newRow("non-unique adds a second row") << false << true;
    }
    void addItemUniqueness()
    {
        QFETCH(bool, unique);
        QFETCH(bool, secondAdded);
        ListView view;
        ListItem* first = view.addItem("a.txt", "file", nullptr, true);
        view.addItem("b.txt", "file", nullptr, true);
        QVERIFY(first);
        ListItem* again = view.addItem("a.txt", "file", nullptr, unique);
        QCOMPARE(again != nullptr, secondAdded);
        QCOMPARE(view.count(), secondAdded ? 3 : 2);
        // The index keeps the first row of a text.
        QCOMPARE(view.indexOf("a.txt"), 0);
        QCOMPARE(view.item(0), first);
        QCOMPARE(first->parentWidget(), view.getList()->viewport());
    }

    void removeItemShiftsLaterRows_data()
    {
        QTest::addColumn<QString>("removed");
        QTest::addColumn<QStringList>("left");
        QTest::newRow("first row") << "a" << QStringList {"b", "c", "d"};
        QTest::newRow("middle row") << "b" << QStringList {"a", "c", "d"};
        QTest::newRow("last row") << "d" << QStringList {"a", "b", "c"};
        QTest::newRow("unknown text changes nothing") << "zz" << QStringList {"a", "b", "c", "d"};
    }
    void removeItemShiftsLaterRows()
    {
        QFETCH(QString, removed);
        QFETCH(QStringList, left);
        ListView view;
        for (const QString text : {"a", "b", "c", "d"}) {
            view.addItem(text, "file", nullptr, true);
        }
        const int before = view.indexOf(removed);
        QPointer<ListItem> widget = before >= 0 ? view.item(before) : nullptr;
        view.removeItem(removed);
        QCOMPARE(view.count(), left.size());
        for (int row = 0; row < left.size(); ++row) {
            QCOMPARE(view.item(row)->text(), left.at(row));
            QCOMPARE(view.indexOf(left.at(row)), row);
        }
        QCOMPARE(view.indexOf(removed), -1);
        if (before >= 0) {
            QTRY_VERIFY(widget.isNull());
        }
        // The text can be listed again afterwards.
        QVERIFY(view.addItem(removed, "file", nullptr, true));
        QCOMPARE(view.indexOf(removed), left.size());
    }

    void filter_data()
    {
        QTest::addColumn<QString>("needle");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("empty shows all") << "" << QStringList {"GIMP 图像编辑器", "Writer", "媒体播放器", "Notes"};
        QTest::newRow("case-insensitive text") << "gimp" << QStringList {"GIMP 图像编辑器"};
        QTest::newRow("upper-case needle") << "NOT" << QStringList {"Notes"};
        QTest::newRow("chinese text") << "播放" << QStringList {"媒体播放器"};
        QTest::newRow("model text only") << "vlc" << QStringList {"媒体播放器"};
        QTest::newRow("model text part") << "office" << QStringList {"Writer"};
        QTest::newRow("upper-case needle still finds the model text") << "VLC" << QStringList {"媒体播放器"};
        QTest::newRow("nothing matches") << "qqq" << QStringList {};
    }
    void filter()
    {
        QFETCH(QString, needle);
        QFETCH(QStringList, shown);
        ListView view;
        view.addItem("GIMP 图像编辑器", "cube", &packages[0], true);
        view.addItem("Writer", "cube", &packages[1], true);
        view.addItem("媒体播放器", "cube", &packages[2], true);
        view.addItem("Notes", "cube", nullptr, true);
        view.show();
        auto* edit = view.findChild<QLineEdit*>("lineEdit");
        edit->setFocus();
        // Typed through the input method, as Chinese text arrives.
        QInputMethodEvent typed;
        typed.setCommitString(needle);
        QApplication::sendEvent(edit, &typed);
        QCOMPARE(shownTexts(view), shown);
        view.ShowAll();
        QCOMPARE(edit->text(), QString());
        QCOMPARE(shownTexts(view).size(), 4);
    }

    void checkedOnlyWithSelectAll()
    {
        ListView view;
        for (const QString text : {"a", "b", "c"}) {
            view.addItem(text, "file", nullptr, true);
        }
        view.show();
        view.item(1)->setChecked(true);
        auto* checkedOnly = view.findChild<QCheckBox*>("checkBox");
        auto* selectAll = view.findChild<QCheckBox*>("selectAll");
        clickBox(checkedOnly);
        QVERIFY(checkedOnly->isChecked());
        QCOMPARE(shownTexts(view), QStringList {"b"});

        clickBox(selectAll);
        QCOMPARE(shownTexts(view), (QStringList {"a", "b", "c"}));
        QCOMPARE(view.checkedCount, 3);
        for (int row = 0; row < 3; ++row) {
            QVERIFY(view.item(row)->isChecked());
        }

        clickBox(selectAll);
        QCOMPARE(shownTexts(view), QStringList {});
        QCOMPARE(view.checkedCount, 0);

        // A new row under the filter is hidden even once checked, until the filter runs again.
        view.item(0)->setChecked(true);
        clickBox(checkedOnly);
        clickBox(checkedOnly);
        QCOMPARE(shownTexts(view), QStringList {"a"});
        ListItem* added = view.addItem("d", "file", nullptr, true);
        added->setChecked(true);
        QCOMPARE(shownTexts(view), QStringList {"a"});
        clickBox(checkedOnly);
        clickBox(checkedOnly);
        QCOMPARE(shownTexts(view), (QStringList {"a", "d"}));

        view.ShowAll();
        QVERIFY(!checkedOnly->isChecked());
        QCOMPARE(shownTexts(view).size(), 4);
    }

    void deleteRemovesCheckedRows()
    {
        ListView view;
        for (const QString text : {"a", "b", "c", "d", "e"}) {
            view.addItem(text, "file", nullptr, true);
        }
        view.show();
        auto* deleteBtn = view.findChild<QPushButton*>("deleteBtn");
        QVERIFY(deleteBtn->isHidden());
        clickBox(view.item(1)->findChild<QCheckBox*>("checkBox"));
        QVERIFY(!deleteBtn->isHidden());
        view.item(2)->setChecked(true);
        view.item(4)->setChecked(true);
        QCOMPARE(view.checkedCount, 3);

        QSignalSpy deleted(&view, &ListView::itemDelete);
        QSignalSpy checked(&view, &ListView::itemChecked);
        QTest::mouseClick(deleteBtn, Qt::LeftButton);
        QCOMPARE(deleted.count(), 3);
        QCOMPARE(deleted.at(0).at(0).toString(), QStringLiteral("b"));
        QCOMPARE(deleted.at(1).at(0).toString(), QStringLiteral("c"));
        QCOMPARE(deleted.at(2).at(0).toString(), QStringLiteral("e"));
        QCOMPARE(checked.count(), 3);
        QCOMPARE(checked.at(0).at(1).toBool(), false);
        QCOMPARE(view.checkedCount, 0);
        QVERIFY(deleteBtn->isHidden());
        QCOMPARE(view.count(), 2);
        QCOMPARE(view.indexOf("a"), 0);
        QCOMPARE(view.indexOf("d"), 1);
        QCOMPARE(view.indexOf("b"), -1);
    }

    void deleteNeverShownWhenNotDeletable()
    {
        ListView view;
        view.deletable = false;
        view.addItem("a", "file", nullptr, true);
        view.show();
        view.item(0)->setChecked(true);
        QCOMPARE(view.checkedCount, 1);
        QVERIFY(view.findChild<QPushButton*>("deleteBtn")->isHidden());
    }

    void removeItemKeepsCheckedCount()
    {
        ListView view;
        view.addItem("a", "file", nullptr, true);
        view.addItem("b", "file", nullptr, true);
        view.item(0)->setChecked(true);
        view.removeItem("a");
        QCOMPARE(view.checkedCount, 1);
    }

    void setCheckedReemits()
    {
        ListView view;
        ListItem* row = view.addItem("a", "file", nullptr, true);
        QSignalSpy spy(&view, &ListView::itemChecked);
        row->setChecked(true);
        row->setChecked(true);
        QCOMPARE(view.checkedCount, 2);
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(1).at(0).value<ListItem*>(), row);
        // Counting down never goes below zero, and then hides "删除".
        row->setChecked(false);
        row->setChecked(false);
        row->setChecked(false);
        QCOMPARE(view.checkedCount, 0);
        QVERIFY(view.findChild<QPushButton*>("deleteBtn")->isHidden());
    }

    void clearEmptiesEverything()
    {
        ListView view;
        view.show();
        QPointer<ListItem> row = view.addItem("a", "file", nullptr, true);
        view.addItem("b", "file", nullptr, true);
        row->setChecked(true);
        view.findChild<QLineEdit*>("lineEdit")->setText("x");
        view.findChild<QCheckBox*>("checkBox")->setChecked(true);
        view.clear();
        QCOMPARE(view.count(), 0);
        QCOMPARE(view.checkedCount, 0);
        QCOMPARE(view.indexOf("a"), -1);
        QVERIFY(view.findChild<QPushButton*>("deleteBtn")->isHidden());
        QVERIFY(view.findChild<QLineEdit*>("lineEdit")->text().isEmpty());
        QVERIFY(!view.findChild<QCheckBox*>("checkBox")->isChecked());
        QTRY_VERIFY(row.isNull());
        QVERIFY(view.addItem("a", "file", nullptr, true));
    }

    void clearCheckUnticksEveryRow()
    {
        ListView view;
        view.addItem("a", "file", nullptr, true)->setChecked(true);
        view.addItem("b", "file", nullptr, true);
        auto* selectAll = view.findChild<QCheckBox*>("selectAll");
        selectAll->setChecked(true);
        QVERIFY(view.item(1)->isChecked());
        view.clearCheck();
        QVERIFY(!selectAll->isChecked());
        QVERIFY(!view.item(0)->isChecked());
        QVERIFY(!view.item(1)->isChecked());
    }

    void enableSearchFromAnotherThread()
    {
        ListView view;
        view.expectedCount = 3;
        auto* edit = view.findChild<QLineEdit*>("lineEdit");
        auto* refresh = view.findChild<QPushButton*>("refreshButton");
        auto* selectAll = view.findChild<QCheckBox*>("selectAll");
        std::thread worker([&view] { emit view.enableSearch(false); });
        worker.join();
        // Queued to this thread: nothing changes before the event loop runs.
        QVERIFY(edit->isEnabled());
        QTRY_COMPARE(edit->placeholderText(), QStringLiteral("加载中..."));
        QVERIFY(!edit->isEnabled());
        QVERIFY(!refresh->isEnabled());
        QVERIFY(!selectAll->isEnabled());
        view.addItem("a", "cube", nullptr, true);
        view.addItem("b", "cube", nullptr, true);
        QVERIFY(!edit->isEnabled());
        view.addItem("c", "cube", nullptr, true);
        QVERIFY(edit->isEnabled());
        QVERIFY(refresh->isEnabled());
        QVERIFY(selectAll->isEnabled());
        QCOMPARE(edit->placeholderText(), QStringLiteral("搜索"));
    }

    void doubleClickNamesTheRow()
    {
        ListView view;
        view.resize(400, 300);
        view.addItem("a", "file", nullptr, true);
        ListItem* second = view.addItem("b", "folder", nullptr, true);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QSignalSpy spy(&view, &ListView::itemDoubleClicked);
        QListView* list = view.getList();
        const QRect rect = list->visualRect(list->model()->index(1, 0));
        QVERIFY(rect.height() > 0);
        // A real double click: press and release, then the double-click event.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rect.center());
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).value<ListItem*>(), second);
    }

    void refreshButtonEmitsRefresh()
    {
        ListView view;
        view.show();
        QSignalSpy spy(&view, &ListView::refresh);
        QTest::mouseClick(view.findChild<QPushButton*>("refreshButton"), Qt::LeftButton);
        QCOMPARE(spy.count(), 1);
    }

    void wheelScrollsFifteenPerStep_data()
    {
        QTest::addColumn<int>("delta");
        QTest::addColumn<int>("change");
        QTest::newRow("one step down") << -120 << 15;
        QTest::newRow("two steps down") << -240 << 30;
        QTest::newRow("fine delta rounds toward zero") << -12 << 1;
    }
    void wheelScrollsFifteenPerStep()
    {
        QFETCH(int, delta);
        QFETCH(int, change);
        ListView view;
        view.resize(400, 200);
        for (int i = 0; i < 60; ++i) {
            view.addItem(QString::number(i), "file", nullptr, true);
        }
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QScrollBar* bar = view.getList()->verticalScrollBar();
        QTRY_VERIFY(bar->maximum() > 100);
        bar->setValue(50);
        QWheelEvent wheel(QPointF(10, 10), view.mapToGlobal(QPoint(10, 10)), QPoint(), QPoint(0, delta), Qt::NoButton,
            Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&view, &wheel);
        QCOMPARE(bar->value(), 50 + change);
    }

    void delegateSizes()
    {
        ListView view;
        ListItem* row = view.addItem("a", "file", nullptr, true);
        auto* model = qobject_cast<ListModel*>(view.getList()->model());
        QVERIFY(model);
        ListItemDelegate delegate(model);
        QStyleOptionViewItem option;
        QCOMPARE(delegate.sizeHint(option, model->index(0)), row->sizeHint());
        QVERIFY(row->sizeHint().height() >= 38);
        QCOMPARE(delegate.sizeHint(option, model->index(5)), QSize(100, 50));
        QCOMPARE(delegate.sizeHint(option, QModelIndex()), QSize(100, 50));
        row->hide();
        QCOMPARE(delegate.sizeHint(option, model->index(0)), QSize(0, 0));
        // The model speaks for the rows (screen readers, Space) and knows nothing past them.
        QCOMPARE(model->data(model->index(0), Qt::DisplayRole).toString(), QStringLiteral("a"));
        QCOMPARE(model->data(model->index(0), Qt::AccessibleTextRole).toString(), QStringLiteral("a"));
        QCOMPARE(model->data(model->index(0), Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
        row->setChecked(true);
        QCOMPARE(model->data(model->index(0), Qt::CheckStateRole).toInt(), int(Qt::Checked));
        QCOMPARE(model->data(model->index(5), Qt::DisplayRole), QVariant());
        QCOMPARE(model->data(model->index(0), Qt::DecorationRole), QVariant());
    }
};

MOVANTA_TEST_MAIN(TestListView)
#include "tst_listview.moc"
