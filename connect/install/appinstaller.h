#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

// What the installation tells the outside world while it runs; every hook is optional.
struct AppInstallerHooks
{
    // The wait for other package managers is over ("S3" goes out here): the installer is about to start, or
    // the wait gave up and the report will say so.
    std::function<void()> installStarted;
    // Text for the transfer page, UTF-8.
    std::function<void(const std::string&)> updateText;
    // Value for the transfer bar, 0 to 100, never smaller than the one before.
    std::function<void(int)> updateProgress;
};

// Re-installs the packages of a received application list with the system package manager, puts the
// desktop entries of newly installed applications on the desktop and builds the installation report.
// Runs on the calling thread and blocks until the installer has ended or a stop flag is set; needs no event loop.
class AppInstaller
{
public:
    // homeDir is the local user's home (HOME); startProgress is where the transfer bar stood when the files
    // were done, the installer's progress fills the rest of it.
    AppInstaller(std::string homeDir, AppInstallerHooks hooks, int startProgress = 0);

    // The report lines (name, size text, each ending in "\n") without the terminating NUL. An empty list
    // does nothing at all and gives an empty report. A set `stop` ends the run within about a second (the
    // installer is ended) with an empty report: nothing counts as installed, as when the connection is lost.
    // When other package managers keep dpkg locked past the wait's limit nothing is installed, the page
    // says why and the report is empty.
    std::string run(const std::string& receivedList, const std::atomic<bool>* stop = nullptr);

private:
    void showText(const std::string& text) const;
    bool runInstaller(const std::string& installList, const std::atomic<bool>* stop) const;
    std::string reportEntry(const std::string& name) const;
    void copyDesktopEntries(const std::string& name, const std::string& desktopDir) const;

    std::string home;
    AppInstallerHooks hooks;
    int startProgress;
};

// The names of the list that the repository knows, each followed by a space: a name counts when the
// available list ("apt list --all-versions") has a line beginning with the name and a "/".
std::string getInstallList(const std::vector<std::string>& names, const std::string& availableList);

// Whether "dpkg-query -s" shows the package installed. A package that was removed but kept its
// configuration ("deinstall ok config-files") or whose installation broke off ("half-configured",
// "unpacked") still has a stanza, yet it is not installed. Output without a Status line is taken as installed.
bool isInstalledStatus(const std::string& dpkgStatus);

// "桌面" under the home, else "Desktop", else the home itself.
std::string getDesktopDir(const std::string& home);

// The non-empty values of the "Installed-Size:" lines of "dpkg-query -s" output (blanks after the colon
// skipped), each ending in "\n".
std::string getInstalledSizeLines(const std::string& dpkgStatus);

// The lines of "dpkg-query -L" output that name a desktop entry under /usr/share/applications.
std::vector<std::string> getDesktopEntryPaths(const std::string& dpkgFileList);

// The package database's installed size as it goes into the report: first line only, "," and " "
// removed, letters upper-cased.
std::string getReportSizeText(const std::string& installedSize);

// Copies desktop entry files into a folder, replacing entries of the same name. Returns how many arrived.
int copyDesktopEntryFiles(const std::vector<std::string>& sources, const std::string& dir);

// Makes every "*.desktop" file of the folder executable for whoever may read it.
void makeDesktopEntriesExecutable(const std::string& dir);
