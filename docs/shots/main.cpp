// Pictures the wizard's pages for the user manual: builds the real MainWindow under the offscreen
// platform, walks it through both roles and saves a PNG per page.
//   movanta_shots [--english] OUTPUT_DIR
// It opens the program's ports and sends one announcement, so it must run in a private network
// namespace (tests/support/netns-run.sh); it refuses to run otherwise.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "app/mainwindow.h"
#include "common/uilanguage.h"
#include "pagetour.h"

namespace {

// A home with the folders a person has, so the pictures show realistic choices.
void makeDemoHome(const QString& root)
{
    const char* files[] = {"文档/年度总结.docx", "文档/家庭账本.xlsx", "图片/2026 春节/全家福.jpg", "音乐/茉莉花.mp3",
        "视频/毕业典礼.mp4", "下载/说明书.pdf", "桌面/待办事项.txt", ".config/movanta-demo/settings.conf"};
    for (const char* name : files) {
        const QString path = root + QLatin1Char('/') + demoPath(name);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(QByteArray(4096, 'x'));
        }
    }
}

// An empty /home of its own, so the pictures show /home/xiaoming rather than a scratch path. Needs a
// private mount namespace; without one the home stays in the scratch folder.
bool privateHome()
{
    return ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
        && ::mount("tmpfs", "/home", "tmpfs", 0, "mode=0755") == 0;
}

bool privateNetwork()
{
    // Only loopback exists in the namespace netns-run.sh makes; the host's network has more.
    QFile devices(QStringLiteral("/proc/self/net/dev"));
    if (!devices.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QList<QByteArray> lines = devices.readAll().split('\n');
    for (const QByteArray& line : lines) {
        const int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed() != "lo") {
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    // The pages in English when asked; the manual's pictures stay in the interface's own Chinese.
    const bool english = argc == 3 && std::strcmp(argv[1], "--english") == 0;
    if (argc != 2 && !english) {
        std::fprintf(stderr, "usage: %s [--english] OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const char* outputArgument = argv[argc - 1];
    if (!privateNetwork()) {
        std::fprintf(stderr, "refusing to run outside a private network namespace; use tests/support/netns-run.sh\n");
        return 2;
    }
    // Its own host name, when the namespace allows it, so the pictures do not show the build machine's.
    if (::unshare(CLONE_NEWUTS) == 0) {
        const char name[] = "new-pc";
        ::sethostname(name, sizeof name - 1);
    }

    // The output folder is opened before a private /home may cover it (a build inside someone's home) and
    // written through its descriptor from then on.
    if (!QDir().mkpath(QString::fromLocal8Bit(outputArgument))) {
        std::fprintf(stderr, "cannot make %s\n", outputArgument);
        return 1;
    }
    const int outputFd = ::open(outputArgument, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (outputFd < 0) {
        std::fprintf(stderr, "cannot open %s\n", outputArgument);
        return 1;
    }
    const QString outputPath = QStringLiteral("/proc/self/fd/") + QString::number(outputFd);

    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        std::fprintf(stderr, "cannot make a scratch folder\n");
        return 1;
    }
    const QString home
        = privateHome() ? QStringLiteral("/home/xiaoming") : scratch.filePath(QStringLiteral("home/xiaoming"));
    qputenv("HOME", home.toUtf8());
    // Started from the menu, the program works in the home folder, where the report files land.
    if (!QDir().mkpath(home) || !QDir::setCurrent(home)) {
        std::fprintf(stderr, "cannot work in %s\n", qPrintable(home));
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication::setAttribute(Qt::AA_Use96Dpi, true);
    QApplication app(argc, argv);
    if (english && !UiLanguage::install(app, true)) {
        std::fprintf(stderr, "the English translation could not be loaded\n");
        return 1;
    }
    // After the translation: the demo home's names follow the interface's language.
    makeDemoHome(home);
    const QDir output(outputPath);

    MainWindow window;
    PageTour tour(window, output);
    tour.run();
    for (const QString& name : tour.saved()) {
        std::printf("saved %s\n", qPrintable(name));
    }
    for (const QString& why : tour.skipped()) {
        std::printf("skipped %s\n", qPrintable(why));
    }
    std::fflush(stdout);
    // Like the program's own exit button: the role pages' threads are not joined.
    std::_Exit(tour.saved().isEmpty() ? 1 : 0);
}
