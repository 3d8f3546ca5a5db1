#include <cstdio>

#include <QApplication>
#include <QProcessEnvironment>

#include "app/mainwindow.h"
#include "common/uilanguage.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (!UiLanguage::install(app, UiLanguage::prefersEnglish(QProcessEnvironment::systemEnvironment()))) {
        std::fprintf(stderr, "the English translation could not be loaded\n");
    }
    MainWindow window;
    window.show();
    return app.exec();
}
