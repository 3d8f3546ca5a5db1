#pragma once

#include <QString>

class QCoreApplication;
class QProcessEnvironment;

// The language the interface speaks. The texts are written in Chinese; an English translation is built in.
namespace UiLanguage {

// True when the environment asks for English: the first entry of LANGUAGE, else the first of LC_ALL,
// LC_MESSAGES and LANG that is set, begins with "en". Anything else keeps Chinese.
bool prefersEnglish(const QProcessEnvironment& environment);

// Installs the English translation on `app` when `english` is true. False when it was asked for and could
// not be loaded (the interface then stays Chinese).
bool install(QCoreApplication& app, bool english);

} // namespace UiLanguage
