#include "TestSupport.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

#include "Application.h"
#include "Platform.h"

void EnsureApplication()
{
    static int argc = 1;
    static char name[] = "volren-tests";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) {
        PreparePlatform();
        new Application(argc, argv);
    }
}

namespace {
// A death test's child process runs the test again from its start; it finds
// the folder of its parent here and works in the same place.
const char* const scratchVariable = "VOLREN_TEST_SCRATCH";
}  // namespace

ScratchFolder::ScratchFolder()
{
    if (const char* inherited = std::getenv(scratchVariable)) {
        folder = inherited;
    } else {
        char templ[] = "/tmp/volren-test-XXXXXX";
        folder = mkdtemp(templ);
        setenv(scratchVariable, folder.c_str(), 1);
        owner = true;
    }
    char cwd[4096];
    previous = getcwd(cwd, sizeof cwd) ? cwd : "/tmp";
    if (chdir(folder.c_str()) != 0) {
        ADD_FAILURE() << "cannot enter " << folder;
    }
}

ScratchFolder::~ScratchFolder()
{
    if (chdir(previous.c_str()) != 0) {
        ADD_FAILURE() << "cannot return to " << previous;
    }
    if (owner) {
        unsetenv(scratchVariable);
        std::system(("rm -rf '" + folder + "'").c_str());
    }
}

std::string ScratchFolder::Path(const std::string& name) const { return folder + "/" + name; }

GLWindow::GLWindow(int width, int height)
{
    EnsureApplication();
    window = new QWindow();
    window->resize(width, height);
    // The program's own start-up: context, GLEW, renderer, transfer function.
    viewer.Start(window, QByteArray::fromStdString(ProgramFolder()));
    window->show();
    ViewSettings panel = viewer.Settings();
    panel.width = width;
    panel.height = height;
    viewer.Apply(panel);
}

GLWindow::~GLWindow()
{
    viewer.Stop();
    delete window;
}

std::string ProgramFolder()
{
    EnsureApplication();
    return QCoreApplication::applicationDirPath().toStdString() + "/";
}

void WriteVolume(const std::string& path, uint16_t dimX, uint16_t dimY, uint16_t dimZ, const Field& density)
{
    std::string bytes;
    for (uint16_t v : {dimX, dimY, dimZ}) {
        bytes.push_back(char(v & 0xFF));
        bytes.push_back(char(v >> 8));
    }
    for (uint32_t z = 0; z < dimZ; ++z) {
        for (uint32_t y = 0; y < dimY; ++y) {
            for (uint32_t x = 0; x < dimX; ++x) {
                const uint16_t v = density(x, y, z);
                bytes.push_back(char(v & 0xFF));
                bytes.push_back(char(v >> 8));
            }
        }
    }
    WriteFile(path, bytes);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

Pixel ReadPixel(int x, int y)
{
    unsigned char p[4] = {};
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
    return Pixel{p[0], p[1], p[2], p[3]};
}

void EnterFileName(QWidget* fileDialog, const QString& name)
{
    auto* edit = fileDialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (!qobject_cast<QFileDialog*>(fileDialog) || !edit) {
        ADD_FAILURE() << "no file dialog with a name field";
        fileDialog->close();
        return;
    }
    edit->setText(name);
    QTest::keyClick(edit, Qt::Key_Return);
}

void WhenModalOpens(std::function<void(QWidget*)> action) { WhenModalOpens(QString(), std::move(action)); }

void WhenModalOpens(const QString& objectName, std::function<void(QWidget*)> action)
{
    auto* timer = new QTimer();
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, action, objectName] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && (objectName.isEmpty() || modal->objectName() == objectName)) {
            timer->stop();
            timer->deleteLater();
            action(modal);
        }
    });
    timer->start();
}

void WhenMessageBoxOpens(std::function<void(QWidget* box, const QString& text)> action)
{
    auto* timer = new QTimer();
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            action(box, box->text());
        }
    });
    timer->start();
}

QImage Rested(Viewer& viewer)
{
    int frames = 0;
    do {
        viewer.DrawFrame(0.0);
        ++frames;
    } while (!viewer.Converged() && frames < 100);
    return viewer.ReadPicture();
}

std::string WriteMinimalShaders(const std::string& folder)
{
    const std::string shaders = folder + "/Shaders";
    mkdir(shaders.c_str(), 0755);
    const char* const programs[6] = {"ColorMap_Intensity_2d",
                                     "ColorMap_Intensity_3d",
                                     "ColorMap_IntensityGradient_2d",
                                     "ColorMap_IntensityGradient_3d",
                                     "RayCasting",
                                     "CutFace"};
    for (const char* program : programs) {
        WriteFile(shaders + "/" + program + ".vert", "void main() { gl_Position = ftransform(); }\n");
        WriteFile(shaders + "/" + program + ".frag", "void main() { gl_FragColor = vec4(1.0); }\n");
    }
    return folder + "/";
}

bool RunningAsRoot() { return ::geteuid() == 0; }

bool DropPrivileges()
{
    if (!RunningAsRoot()) {
        return true;
    }
    return ::setgroups(0, nullptr) == 0 && ::setgid(unprivilegedUser) == 0 && ::setuid(unprivilegedUser) == 0;
}

void GiveToUnprivilegedUser(const std::string& path)
{
    if (RunningAsRoot()) {
        EXPECT_EQ(::lchown(path.c_str(), unprivilegedUser, unprivilegedUser), 0) << path;
    }
}

std::string UnprivilegedFolder(const ScratchFolder& scratch, const std::string& name)
{
    const std::string folder = scratch.Path(name);
    ::mkdir(folder.c_str(), 0755);
    if (RunningAsRoot()) {
        ::chmod(scratch.path().c_str(), 0711);
    }
    GiveToUnprivilegedUser(folder);
    return folder;
}

bool CanDropPrivileges()
{
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(DropPrivileges() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
