#include "connect/install/appinstaller.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <thread>

#include <sys/stat.h>

#include <QCoreApplication>

#include "common/packagename.h"
#include "common/pathtext.h"
#include "common/processrunner.h"
#include "connect/install/installeroutput.h"
#include "connect/install/installerprocess.h"
#include "connect/install/installprogress.h"
#include "connect/install/packagemanagerwait.h"

namespace fs = std::filesystem;

namespace {

const char* const OtherPackageManagerReason = QT_TRANSLATE_NOOP("AppInstaller", "其他软件包管理器一直在运行");

const char* const installCommand = "apt update && ACCEPT_EULA=Y apt-get install -y --no-install-recommends ";

// A stop is looked for this often while the installer runs; its output is looked at every AnswerAfterMs,
// and that much silence is taken for a question.
constexpr int StopCheckMs = 100;
constexpr int AnswerAfterMs = 500;

bool isSet(const std::atomic<bool>* flag)
{
    return flag && flag->load();
}

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

} // namespace

AppInstaller::AppInstaller(std::string homeDir, AppInstallerHooks installerHooks, int startValue)
    : home(std::move(homeDir)), hooks(std::move(installerHooks)), startProgress(startValue)
{ }

std::string AppInstaller::run(const std::string& receivedList, const std::atomic<bool>* stop)
{
    if (receivedList.empty())
        return std::string();
    showText(QCoreApplication::translate("AppInstaller", "正在处理中").toStdString());

    // A name that is not a Debian package name never reaches a command line; it is left out of the
    // report, so the sender lists it as failed.
    std::vector<std::string> names = getListedNames(receivedList);
    names.erase(
        std::remove_if(names.begin(), names.end(), [](const std::string& name) { return !isValidPackageName(name); }),
        names.end());

    const std::string manualList = Process::run("apt-mark", {"showmanual"}, stop).output;
    const std::string available = Process::run("apt", {"list", "--all-versions"}, stop).output;
    const std::string installList = getInstallList(names, available);

    if (isSet(stop))
        return std::string();
    switch (PackageManagerWait().wait(stop)) {
    case PackageManagerWait::Outcome::Stopped:
        return std::string();
    case PackageManagerWait::Outcome::GaveUp:
        // The sender still gets its answer and an empty report, which every sender reads as nothing
        // installed; the reason shows here.
        showText(QCoreApplication::translate("AppInstaller", OtherPackageManagerReason).toStdString());
        if (hooks.installStarted)
            hooks.installStarted();
        return std::string();
    case PackageManagerWait::Outcome::Free:
        break;
    }
    if (hooks.installStarted)
        hooks.installStarted();
    if (!runInstaller(installList, stop))
        return std::string();

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

bool AppInstaller::runInstaller(const std::string& installList, const std::atomic<bool>* stop) const
{
    InstallerProcess installer;
    std::string error;
    // Error output goes to ours: it is not shown, and nobody would drain it otherwise.
    const bool started
        = installer.start({"pkexec", "bash", "-c", installCommand + installList}, "ACCEPT_EULA=Y", error);
    showText(QCoreApplication::translate("AppInstaller", "应用安装").toStdString());
    std::printf("%s\n", installList.c_str());
    std::fflush(stdout);
    if (!started) {
        std::fprintf(stderr, "pkexec: %s\n", error.c_str());
        return !isSet(stop);
    }

    InstallerOutput output;
    InstallProgress progress(startProgress);
    std::string fresh;
    for (;;) {
        bool finished = false;
        for (int waited = 0; waited < AnswerAfterMs && !finished; waited += StopCheckMs) {
            if (isSet(stop)) {
                installer.stop();
                return false;
            }
            finished = installer.waitForFinished(StopCheckMs, fresh);
        }
        if (finished)
            break;
        if (fresh.empty()) {
            // Silence usually means a question; answer it.
            installer.write("Y\n");
            continue;
        }
        output.append(fresh);
        fresh.clear();
        if (const std::optional<int> percent = output.percent()) {
            const std::optional<int> value = progress.advance(*percent);
            if (value && hooks.updateProgress)
                hooks.updateProgress(*value);
        }
        if (const std::optional<std::string> line = output.takeLastLine())
            showText(QCoreApplication::translate("AppInstaller", "应用安装 %1")
                         .arg(QString::fromStdString(*line))
                         .toStdString());
    }
    return !isSet(stop);
}

std::string AppInstaller::reportEntry(const std::string& name) const
{
    const std::string status = Process::output("dpkg-query", {"-s", name});
    if (status.size() < 2 || !isInstalledStatus(status))
        return std::string();
    std::string sizeText = getInstalledSizeLines(status);
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
    copyDesktopEntryFiles(getDesktopEntryPaths(Process::output("dpkg-query", {"-L", name})), desktopDir);
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
        if (!startsWith(line, "Status:"))
            continue;
        if (endsWith(line, " installed"))
            return true;
        statusSeen = true;
    }
    return !statusSeen;
}

std::string getInstalledSizeLines(const std::string& dpkgStatus)
{
    static const std::string key = "Installed-Size:";
    std::string sizes;
    for (const std::string& line : linesOf(dpkgStatus)) {
        if (!startsWith(line, key))
            continue;
        std::string::size_type start = key.size();
        while (start < line.size() && std::isspace(static_cast<unsigned char>(line[start])))
            ++start;
        // grep -o printed no empty match.
        if (start < line.size())
            sizes += line.substr(start) + "\n";
    }
    return sizes;
}

std::vector<std::string> getDesktopEntryPaths(const std::string& dpkgFileList)
{
    std::vector<std::string> paths;
    for (const std::string& line : linesOf(dpkgFileList)) {
        if (startsWith(line, "/usr/share/applications") && endsWith(line, ".desktop"))
            paths.push_back(line);
    }
    return paths;
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
