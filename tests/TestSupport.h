#pragma once

#include <GL/glew.h>

#include <QImage>
#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Viewer.h"

class QWindow;
class QWidget;

// AddressSanitizer reserves most of the address space for itself: a limit on
// it cannot be set, and resident memory includes its quarantine.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool underAddressSanitizer = true;
#else
constexpr bool underAddressSanitizer = false;
#endif

// The program's own application object for the test process, made on first
// use on X11 with GLX.
void EnsureApplication();

// A temporary folder that becomes the working directory, so that debug.log
// and other files of a test stay apart from those of other tests.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    std::string Path(const std::string& name) const;
    const std::string& path() const { return folder; }

private:
    std::string folder;
    std::string previous;
    bool owner = false;
};

// A shown window started as the program starts its render panel: the
// engine's display on it, GLEW initialised.
class GLWindow {
public:
    explicit GLWindow(int width = 537, int height = 595);
    ~GLWindow();
    Viewer viewer;
    Display& display = viewer.display;
    QWindow* window;
};

// Folder of the test executable, with Shaders/ copied beside it by the build.
std::string ProgramFolder();

// The picture of the view at rest: frames drawn until the view has
// converged (at most 100).
QImage Rested(Viewer& viewer);

// Writes a volume data file; density gives the sample at (x, y, z).
using Field = std::function<uint16_t(uint32_t x, uint32_t y, uint32_t z)>;
void WriteVolume(const std::string& path, uint16_t dimX, uint16_t dimY, uint16_t dimZ, const Field& density);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

// RGBA pixel of the current read buffer.
struct Pixel {
    int r, g, b, a;
};
Pixel ReadPixel(int x, int y);

// Writes the ten shader files, each a trivial valid program, into
// <folder>/Shaders/ and returns the base path ("<folder>/") that a renderer
// reads them from.
std::string WriteMinimalShaders(const std::string& folder);

// Puts the name into an open file dialog's name field and confirms it with
// Return. The name is set rather than typed: a completer popup that opens
// while typing would take the Return key.
void EnterFileName(QWidget* fileDialog, const QString& name);

// Runs the given action once the next modal dialog or message box is open.
void WhenModalOpens(std::function<void(QWidget*)> action);
// The same for the modal window of the given object name only.
void WhenModalOpens(const QString& objectName, std::function<void(QWidget*)> action);
// The same for the next message box only, with its text; a progress dialog
// shown before it, as a slow read shows one, is passed over.
void WhenMessageBoxOpens(std::function<void(QWidget* box, const QString& text)> action);

// Cases about file permissions run as an unprivileged user: root may write
// any file. When the tests run as root, DropPrivileges switches the calling
// process to user and group 65534 for good; otherwise the tester is such a
// user already. It returns false when the switch failed.
constexpr unsigned unprivilegedUser = 65534;
bool RunningAsRoot();
bool DropPrivileges();
// Gives the file or folder to that user when the tests run as root.
void GiveToUnprivilegedUser(const std::string& path);
// A folder of that user inside the scratch folder, which it can reach.
std::string UnprivilegedFolder(const ScratchFolder& scratch, const std::string& name);
// Whether a child process can switch to that user.
bool CanDropPrivileges();
