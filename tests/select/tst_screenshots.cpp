#include "testmain.h"

#include <filesystem>
#include <fstream>
#include <memory>

#include <QCheckBox>
#include <QDir>
#include <QListWidget>
#include <QPainter>
#include <QStackedWidget>

#include "faketools.h"
#include "select/filedialog.h"
#include "select/listitem.h"
#include "select/listview.h"
#include "select/selectdataview.h"

namespace fs = std::filesystem;

namespace {

// A plain app icon: a rounded square with a letter.
bool drawIcon(const QString& path, const QColor& colour, const QString& letter)
{
    QImage image(64, 64, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(colour);
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(2, 2, 60, 60), 14, 14);
    painter.setPen(Qt::white);
    QFont font;
    font.setPixelSize(34);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(image.rect(), Qt::AlignCenter, letter);
    painter.end();
    return image.save(path);
}

ListItem* rowOf(QListWidget* list, int index)
{
    return qobject_cast<ListItem*>(list->itemWidget(list->item(index)));
}

} // namespace

// Pictures of the selection page and the file browser for the documentation; runs only when
// MOVANTA_SCREENSHOT_DIR names the folder to write them to.
class TestScreenshots : public QObject
{
    Q_OBJECT

    QString outDir;
    QTemporaryDir data;
    std::unique_ptr<FakeTools> tools;

    void save(QWidget& widget, const QString& name)
    {
        QApplication::processEvents();
        const QString file = QDir(outDir).filePath(name);
        QVERIFY(widget.grab().save(file));
        QVERIFY(QFileInfo(file).size() > 1000);
    }

private slots:
    void initTestCase()
    {
        outDir = qEnvironmentVariable("MOVANTA_SCREENSHOT_DIR");
        if (outDir.isEmpty()) {
            QSKIP("MOVANTA_SCREENSHOT_DIR is not set");
        }
        QVERIFY(QDir().mkpath(outDir));
        QVERIFY(data.isValid());
        tools = std::make_unique<FakeTools>();
        const QByteArray dir = data.path().toUtf8();
        QVERIFY(tools->add("apt-mark", "cat '" + dir + "/packages'"));
        QVERIFY(tools->add(
            "dpkg-query", "[ -f '" + dir + "/lists/'\"$2\" ] && exec cat '" + dir + "/lists/'\"$2\"\nexit 1"));
        struct App
        {
            const char* package;
            const char* name;
            const char* colour;
            const char* letter;
        };
        const App apps[] = {{"firefox-esr", "Firefox 网络浏览器", "#E66000", "F"},
            {"gimp", "GNU 图像处理程序", "#7B6A58", "G"}, {"vlc", "VLC 媒体播放器", "#F08A00", "V"},
            {"wps-office", "WPS 文字", "#D43B2A", "W"}, {"thunderbird", "Thunderbird 邮件", "#2F6FDE", "T"},
            {"libreoffice-calc", "LibreOffice Calc", "#1F9D55", "C"}, {"code", "Visual Studio Code", "#1E88E5", "<"},
            {"htop", nullptr, nullptr, nullptr}};
        QByteArray packages;
        QDir().mkpath(data.filePath("lists"));
        for (const App& app : apps) {
            packages += QByteArray(app.package) + "\n";
            if (!app.name) {
                continue;
            }
            const QString icon = data.filePath(QString(app.package) + ".png");
            QVERIFY(drawIcon(icon, QColor(app.colour), app.letter));
            const QString entry = data.filePath(QString(app.package) + ".desktop");
            std::ofstream(entry.toStdString())
                << "[Desktop Entry]\nName[zh_CN]=" << app.name << "\nIcon=" << icon.toStdString() << "\n";
            std::ofstream(data.filePath("lists/" + QString(app.package)).toStdString()) << entry.toStdString() << "\n";
        }
        std::ofstream(data.filePath("packages").toStdString()) << packages.toStdString();
    }

    void selectionPage()
    {
        SelectDataView page;
        page.resize(1060, 540);
        page.setStyleSheet(page.styleSheet() + "\nQWidget#SelectDataView{ background-color: #F3F5F9; }");
        page.show();
        QTRY_COMPARE(page.findChild<ListView*>("appsPage")->count(), 8);
        FreeSpaceMessage disk;
        disk.total = uint64_t(512) << 30;
        disk.free = uint64_t(331) << 30;
        page.updateDiskSize(disk);
        const struct
        {
            const char* path;
            int type;
            uint64_t size;
            int files;
        } rows[]
            = {{"/home/xiaoming", 1, uint64_t(18) << 30, 2400}, {"/home/xiaoming/.config", 1, uint64_t(96) << 20, 310},
                {"/data/项目资料", 1, uint64_t(3) << 30, 812}, {"/data/年度报告.docx", 0, uint64_t(2400) << 10, 1}};
        for (const auto& row : rows) {
            for (int i = 0; i < row.files; ++i) {
                page.fileMap[std::string(row.path) + "/" + std::to_string(i)] = row.size / row.files;
            }
            page.selectedFileSize += row.size;
            emit page.AddFileItemAsync(QString::fromUtf8(row.path), row.type, row.size);
        }
        auto* conf = page.findChild<QListWidget*>("confList");
        QTRY_COMPARE(page.findChild<ListView*>("filesPage")->count(), 4);
        rowOf(page.findChild<QListWidget*>("fileList"), 0)->findChild<QCheckBox*>("checkBox")->setChecked(true);
        rowOf(conf, 0)->findChild<QCheckBox*>("checkBox")->setChecked(true);
        rowOf(conf, 1)->findChild<QCheckBox*>("checkBox")->setChecked(true);
        page.updateSelectionInfo();
        save(page, "select.png");

        ListView* apps = page.findChild<ListView*>("appsPage");
        apps->item(0)->setChecked(true);
        apps->item(3)->setChecked(true);
        apps->item(5)->setChecked(true);
        page.findChild<QStackedWidget*>("view")->setCurrentIndex(1);
        save(page, "select-apps.png");
    }

    void fileBrowser()
    {
        QTemporaryDir top(QDir::tempPath() + "/home-XXXXXX");
        const std::string home = top.path().toStdString() + "/xiaoming";
        for (const char* folder : {"文档", "下载", "图片", "音乐", "视频", "桌面", "项目"}) {
            fs::create_directories(home + "/" + folder);
        }
        for (const char* file : {"年度报告.docx", "notes.txt", "预算.xlsx"}) {
            std::ofstream(home + "/" + file) << "x";
        }
        FileDialog dialog;
        dialog.root = top.path().toStdString();
        dialog.checkedPaths = {home + "/文档", home + "/图片", home + "/年度报告.docx"};
        dialog.Open(home);
        dialog.show();
        save(dialog, "filedialog.png");
    }
};

MOVANTA_TEST_MAIN(TestScreenshots)
#include "tst_screenshots.moc"
