#include "common/uilanguage.h"

#include <QCoreApplication>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTranslator>

namespace UiLanguage {

bool prefersEnglish(const QProcessEnvironment& environment)
{
    // LANGUAGE is a priority list ("en_GB:en"); it is honoured only with a locale other than C, as gettext does.
    QString language = environment.value(QStringLiteral("LANGUAGE")).section(QLatin1Char(':'), 0, 0);
    QString locale;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        locale = environment.value(QString::fromLatin1(name));
        if (!locale.isEmpty()) {
            break;
        }
    }
    if (locale == QLatin1String("C") || locale == QLatin1String("POSIX")) {
        language.clear();
    }
    const QString chosen = language.isEmpty() ? locale : language;
    return chosen.startsWith(QLatin1String("en"));
}

bool install(QCoreApplication& app, bool english)
{
    if (!english) {
        return true;
    }
    // Owned by the application, so it lives as long as texts are translated.
    auto* translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral(":/translations/movanta_en.qm"))) {
        delete translator;
        return false;
    }
    return app.installTranslator(translator);
}

} // namespace UiLanguage
