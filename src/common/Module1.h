#pragma once
// The values every window reads and the hooks through which any window reaches the
// main window (hint panel, toolbar buttons) and the record browser, without knowing them.
#include "store/SearchFilter.h"

#include <QString>
#include <functional>

class QWidget;

namespace app {

// Full path of the archive file; settled once by the login window.
extern QString DbPath;
// The connect text every open carries; set before the first window opens.
extern QString DbConnect;
// The authority level (权限) of the operator who logged in, exactly as stored.
extern QString CurrentAuthority;
// True while the record browser exists.
extern bool BrowserLoaded;
// The search condition every tree load applies until it is cleared.
extern store::SearchFilter SearchFilter;

// The program's own folder. Data/file.dat and INFORMATION.INI are looked for there, or,
// for an installed program, in the machine's folder (common/Installation.h).
QString programFolder();
void setProgramFolder(const QString &folder); // tests point it at a folder of their own
QString defaultDatabasePath(); // Data/file.dat in app::installationFolder()

// Settles DbPath: the candidate, else Data/Path (the user's own, else the site's), when
// that file can be opened for reading; the default path otherwise. Only a candidate that
// differs from it is stored, into the user's own file; a copy of the site's path or of the
// default found there (earlier versions wrote one) is removed. A remembered archive that
// cannot be read is never replaced silently: the operator is told which file and why, may
// use the default archive for this run only, and Data/Path stays.
void LocateDatabase(const QString &candidate);
// True when LocateDatabase has already told the operator that DbPath cannot be read.
bool DatabaseProblemReported();

// Writes the main window's hint panel; does nothing while there is no main window.
void ShowHint(const QString &text);
using HintTarget = std::function<void(const QString &)>;
void setHintTarget(HintTarget target);

// The main window's line that tells a search is in force ("查询：外科，找到 12 条");
// an empty text hides it. Written by the record browser after every tree load; does
// nothing while there is no main window.
void ShowSearchState(const QString &text);
void setSearchStateTarget(HintTarget target);

// The main window's toolbar buttons, by key ("Add", "Modify", "Delete", "Search", ...).
// The record browser switches some of them on and off; without a main window these
// calls do nothing and a button reads as disabled.
void setToolButtonEnabled(const QString &key, bool enabled);
bool toolButtonEnabled(const QString &key);
struct ToolButtonTarget {
    std::function<void(const QString &key, bool enabled)> setEnabled;
    std::function<bool(const QString &key)> isEnabled;
};
void setToolButtonTarget(ToolButtonTarget target);

// The record browser's tree load (its cmdLoad_Click), for windows that changed what it
// shows. Does nothing while no browser is open; the browser registers itself.
void ReloadBrowser();
void setBrowserReloadTarget(std::function<void()> target);

// True once EndProgram has begun: windows then close without asking.
bool ProgramEnding();

// The organisation that uses this installation (main window title) and the web
// address shown as a link (login and main window). Built-in defaults, overridden per
// installation by the settings "Site"/"Organisation" and "Site"/"Web".
QString OrganisationName();
QString WebAddress();

// Ends the program at once: every window closes, no question is asked.
void EndProgram();
// Tests replace the ending with a hook of their own; an empty hook restores it.
void setEndProgramHook(std::function<void()> hook);

// Brings a window back from the task bar and to the front.
void RestoreWindow(QWidget *window);

} // namespace app
