#include "connect/install/appinstaller.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <thread>

#include <sys/stat.h>

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include "common/execoutput.h"
#include "connect/install/installeroutput.h"
#include "connect/install/installprogress.h"
#include "common/packagename.h"

namespace fs = std::filesystem;

namespace {

const char* const installCommand = "apt update && ACCEPT_EULA=Y apt-get install -y --no-install-recommends ";

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    while (start < text.size()) {
        std::string::size_type end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

bool endsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

AppInstaller::AppInstaller(std::string homeDir, AppInstallerHooks installerHooks, int startValue)
    : home(std::move(homeDir)), hooks(std::move(installerHooks)), startProgress(startValue)
{ }

std::string AppInstaller::run(const std::string& receivedList)
{
    if (receivedList.empty())
        return std::string();
    showText("正在处理中");

    // A name that is not a Debian package name never reaches a command line; it is left out of the
    // report, so the sender lists it as failed.
    std::vector<std::string> names = getListedNames(receivedList);
    names.erase(
        std::remove_if(names.begin(), names.end(), [](const std::string& name) { return !isValidPackageName(name); }),
        names.end());

    const std::string manualList = getExecOutput("apt-mark showmanual");
    const std::string installList = getInstallList(names, getExecOutput("apt list --all-versions"));

    waitForOtherPackageManagers();
    if (hooks.installStarted)
        hooks.installStarted();
    runInstaller(installList);

    const std::string desktopDir = getDesktopDir(home);
    std::string report;
    for (const std::string& name : names) {
        const std::string entry = reportEntry(name);
        if (entry.empty())
            continue;
        report += entry;
        if (manualList.find(name) == std::string::npos)
            copyDesktopEntries(name, desktopDir);
    }
    makeDesktopEntriesExecutable(desktopDir);
    return report;
}

void AppInstaller::showText(const std::string& text) const
{
    if (hooks.updateText)
        hooks.updateText(text);
}

void AppInstaller::waitForOtherPackageManagers() const
{
    static const char* const checks[] = {"pgrep \"^apt\\b\"", "pgrep \"^apt-get\\b\"", "pgrep \"^dpkg\\b\""};
    for (;;) {
        const bool busy = std::any_of(
            std::begin(checks), std::end(checks), [](const char* check) { return getExecOutput(check).size() >= 2; });
        if (!busy)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

void AppInstaller::runInstaller(const std::string& installList) const
{
    QProcess installer;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ACCEPT_EULA", "Y");
    installer.setProcessEnvironment(environment);
    // Error output goes to ours: it is not shown, and nobody would drain it otherwise.
    installer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    installer.start(
        "pkexec", {"bash", "-c", QString::fromStdString(installCommand + installList)}, QIODevice::ReadWrite);
    showText("应用安装");
    std::printf("%s\n", installList.c_str());
    std::fflush(stdout);
    if (!installer.waitForStarted(-1)) {
        std::fprintf(stderr, "pkexec: %s\n", installer.errorString().toLocal8Bit().constData());
        return;
    }

    InstallerOutput output;
    InstallProgress progress(startProgress);
    while (!installer.waitForFinished(500)) {
        if (installer.state() == QProcess::NotRunning)
            break;
        const QByteArray fresh = installer.readAllStandardOutput();
        if (fresh.isEmpty()) {
            // Silence usually means a question; answer it.
            installer.write("Y\n");
            continue;
        }
        output.append(fresh.toStdString());
        if (const std::optional<int> percent = output.percent()) {
            const std::optional<int> value = progress.advance(*percent);
            if (value && hooks.updateProgress)
                hooks.updateProgress(*value);
        }
        if (const std::optional<std::string> line = output.takeLastLine())
            showText("应用安装 " + *line);
    }
}

std::string AppInstaller::reportEntry(const std::string& name) const
{
    const std::string status = getExecOutput("dpkg-query -s " + name);
    if (status.size() < 2 || !isInstalledStatus(status))
        return std::string();
    std::string sizeText = getExecOutput("dpkg-query -s " + name + " | grep -Po '^Installed-Size:\\s*\\K.*'");
    if (sizeText.size() < 2)
        sizeText = std::to_string(name.size());
    else
        sizeText = getReportSizeText(sizeText);
    std::string entry = name + "\n" + sizeText;
    if (!endsWith(entry, "\n"))
        entry += "\n";
    return entry;
}

void AppInstaller::copyDesktopEntries(const std::string& name, const std::string& desktopDir) const
{
    const std::string listed
        = getExecOutput("dpkg-query -L " + name + " | grep -E '^/usr/share/applications.*\\.desktop$'");
    copyDesktopEntryFiles(linesOf(listed), desktopDir);
}

std::string getInstallList(const std::vector<std::string>& names, const std::string& availableList)
{
    std::string installList;
    for (const std::string& name : names) {
        if (availableList.find("\n" + name + "/") != std::string::npos)
            installList += name + " ";
    }
    return installList;
}

bool isInstalledStatus(const std::string& dpkgStatus)
{
    bool statusSeen = false;
    for (const std::string& line : linesOf(dpkgStatus)) {
        if (line.compare(0, 7, "Status:") != 0)
            continue;
        if (endsWith(line, " installed"))
            return true;
        statusSeen = true;
    }
    return !statusSeen;
}

std::string getDesktopDir(const std::string& home)
{
    const std::string base = home.empty() ? std::string(".") : home;
    std::error_code error;
    for (const char* folder : {"/桌面", "/Desktop"}) {
        if (fs::is_directory(base + folder, error))
            return base + folder;
    }
    return base;
}

std::string getReportSizeText(const std::string& installedSize)
{
    // A package installed for two architectures has two stanzas; a second size line would read as a name.
    const std::string::size_type lineEnd = installedSize.find('\n');
    const std::string firstLine = lineEnd == std::string::npos ? installedSize : installedSize.substr(0, lineEnd + 1);
    std::string text;
    for (char c : firstLine) {
        if (c != ',' && c != ' ')
            text += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

int copyDesktopEntryFiles(const std::vector<std::string>& sources, const std::string& dir)
{
    int copied = 0;
    for (const std::string& source : sources) {
        const fs::path target = fs::path(dir) / fs::path(source).filename();
        std::error_code error;
        if (fs::copy_file(source, target, fs::copy_options::overwrite_existing, error))
            ++copied;
        else
            std::fprintf(stderr, "cp: %s: %s\n", source.c_str(), error.message().c_str());
    }
    return copied;
}

void makeDesktopEntriesExecutable(const std::string& dir)
{
    std::error_code error;
    for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
        const std::string fileName = it->path().filename().string();
        if (fileName.empty() || fileName.front() == '.' || !endsWith(fileName, ".desktop"))
            continue;
        struct stat info;
        if (stat(it->path().c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        // Like "chmod +x" under the usual umask: execute wherever reading is allowed.
        const mode_t readable = info.st_mode & (S_IRUSR | S_IRGRP | S_IROTH);
        chmod(it->path().c_str(), info.st_mode | (readable >> 2));
    }
}
