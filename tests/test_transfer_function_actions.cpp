#include "Main.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "Log.h"
#include "TestSupport.h"
#include "TransferFunction.h"
#include "Transferfunceditor.h"
#include "VolumeRenderer.h"

namespace {
// Answers the save prompt, then runs the next step once the following modal
// window opens.
void AnswerPrompt(QMessageBox::StandardButton answer, std::function<void(QWidget*)> next = nullptr)
{
    WhenModalOpens([answer, next](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text(), QStringLiteral("Save transfer function ?"));
        if (next) {
            WhenModalOpens(next);
        }
        box->button(answer)->click();
    });
}

void Click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

struct MainWindow {
    TTransferFuncEditForm editor;
    TMainForm form{nullptr};

    MainWindow()
    {
        form.editor = &editor;
        form.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&form));
    }
    TransferFunction& Function() { return form.viewer.transferFunction; }
};

// Every channel constant at the given value.
void SaveConstantFunction(const std::string& name, uint8_t value)
{
    TransferFunction tf;
    for (int c = 0; c < 4; ++c) {
        tf.AddSample(c, value, 0);
    }
    ASSERT_TRUE(tf.Save(name.c_str()));
}

std::vector<uint8_t> LookupTexels(const TMainForm& form)
{
    std::vector<uint8_t> texels(2048 * 4);
    glBindTexture(GL_TEXTURE_1D, form.viewer.volumeRenderer->transferTexture);
    glGetTexImage(GL_TEXTURE_1D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    return texels;
}

bool AllTexels(const std::vector<uint8_t>& texels, uint8_t value)
{
    for (uint8_t t : texels) {
        if (t != value) {
            return false;
        }
    }
    return true;
}

}  // namespace

TEST(TransferFunctionActions, SaveAsKeepsTheTypedNameAndSaveReusesIt)
{
    ScratchFolder scratch;
    EnsureApplication();
    MainWindow w;
    EXPECT_EQ(w.form.Panel6->text(), QString());

    // No file name yet: "Save" asks for one.
    const std::string name = scratch.Path("plain");
    WhenModalOpens([name](QWidget* modal) { EnterFileName(modal, QString::fromStdString(name)); });
    Click(w.form.SpeedButton4);
    EXPECT_EQ(ReadFile(name).size(), 140u);
    EXPECT_FALSE(std::filesystem::exists(name + ".tf"));
    EXPECT_EQ(w.form.Panel6->text(), QStringLiteral("plain"));
    EXPECT_FALSE(w.Function().IsModified());
    EXPECT_TRUE(w.Function().HasFileName());

    // Now it writes there at once.
    {
        bool dialogOpened = false;
        QObject guard;
        QTimer::singleShot(1000, &guard, [&dialogOpened] {
            if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                dialogOpened = true;
                modal->reject();
            }
        });
        w.Function().AddSample(0, 1, 2);
        Click(w.form.SpeedButton4);
        EXPECT_FALSE(dialogOpened);
        EXPECT_EQ(ReadFile(name).size(), 148u);
    }

    // Cancelling "Save As" changes nothing.
    w.Function().AddSample(0, 1, 3);
    WhenModalOpens([](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); });
    w.form.SaveAsTransferFuncActionExecute();
    EXPECT_TRUE(w.Function().IsModified());
    EXPECT_EQ(ReadFile(name).size(), 148u);
    EXPECT_EQ(w.form.Panel6->text(), QStringLiteral("plain"));
}

TEST(TransferFunctionActions, YesOnTheClosePromptSavesToTheKnownFile)
{
    ScratchFolder scratch;
    const std::string known = scratch.Path("known.tf");
    SaveConstantFunction(known, 50);
    EXPECT_EXIT(
        {
            EnsureApplication();
            MainWindow w;
            AnswerPrompt(QMessageBox::No,
                         [known](QWidget* modal) { EnterFileName(modal, QString::fromStdString(known)); });
            Click(w.form.SpeedButton3);
            w.Function().AddSample(0, 77, 777);
            // Any dialog after the answer would be a failure.
            AnswerPrompt(QMessageBox::Yes, [](QWidget*) { std::_Exit(3); });
            Click(w.form.SpeedButton15);
            std::_Exit(7);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EQ(ReadFile("debug.log"), "");
    TransferFunction saved;
    ASSERT_TRUE(saved.Load(known.c_str()));
    ASSERT_EQ(saved.SampleCount(0), 2u);
    EXPECT_EQ(saved.Channel(0)[1].position, 777u);
    EXPECT_EQ(saved.Channel(0)[1].value, 77);
}

TEST(TransferFunctionActions, AfterNewTheLookupWaitsForEditOrLoad)
{
    ScratchFolder scratch;
    EnsureApplication();
    SaveConstantFunction(scratch.Path("ninety.tf"), 90);
    MainWindow w;
    // "Blend": the lookup holds the colours as they are ("Default"
    // premultiplies them).
    w.form.RadioButton5->click();

    // Edit: the editor opens modally over the function while frames go on,
    // and the lookup is built from the function when it closes.
    bool framesWentOn = false;
    WhenModalOpens([&](QWidget* modal) {
        EXPECT_EQ(modal, &w.editor);
        EXPECT_EQ(w.editor.transferFunction, &w.form.viewer.transferFunction);
        EXPECT_TRUE(w.editor.histogram.empty());
        EXPECT_EQ(w.editor.maxDensity, 0u);
        const float count = w.form.fpsFrameCount, last = w.form.fpsLastTime;
        QTest::qWait(100);
        framesWentOn = w.form.fpsFrameCount != count || w.form.fpsLastTime != last;
        Click(w.editor.SpeedButton1);
    });
    Click(w.form.SpeedButton5);
    EXPECT_TRUE(framesWentOn);
    EXPECT_FALSE(w.editor.isVisible());
    const std::vector<uint8_t> startup = LookupTexels(w.form);
    const TransferFunction::Color c100 = w.Function().Evaluate(100), c101 = w.Function().Evaluate(101);
    EXPECT_EQ(startup[50 * 4 + 1], (c100.g + c101.g) / 2);
    ASSERT_FALSE(AllTexels(startup, 0));

    AnswerPrompt(QMessageBox::No);
    Click(w.form.SpeedButton2);
    EXPECT_EQ(w.form.Panel6->text(), QStringLiteral("-"));
    EXPECT_EQ(w.Function().SampleCount(0) + w.Function().SampleCount(3), 0u);
    QTest::qWait(100);
    EXPECT_EQ(LookupTexels(w.form), startup);
    // Without a volume a colour-map change does not rebuild it either.
    Click(w.form.RadioButton8);
    EXPECT_EQ(LookupTexels(w.form), startup);

    WhenModalOpens([&](QWidget*) { Click(w.editor.SpeedButton1); });
    Click(w.form.SpeedButton5);
    EXPECT_TRUE(AllTexels(LookupTexels(w.form), 0));

    // Load.
    AnswerPrompt(QMessageBox::No,
                 [&](QWidget* modal) { EnterFileName(modal, QString::fromStdString(scratch.Path("ninety.tf"))); });
    Click(w.form.SpeedButton3);
    EXPECT_EQ(w.form.Panel6->text(), QStringLiteral("ninety.tf"));
    EXPECT_FALSE(w.Function().IsModified());
    EXPECT_TRUE(AllTexels(LookupTexels(w.form), 90));
}

TEST(TransferFunctionActions, AfterNewAColourMapChangeRebuildsTheLookup)
{
    EnsureApplication();
    const std::string shaders = QCoreApplication::applicationDirPath().toStdString() + "/Shaders/";
    if (!std::filesystem::exists(shaders + "RayCasting.frag")) {
        GTEST_SKIP() << "needs the shader sources in " << shaders;
    }
    ScratchFolder scratch;
    WriteVolume("small.dat", 8, 8, 8, [](uint32_t x, uint32_t y, uint32_t z) { return uint16_t((x + y + z) * 190); });
    MainWindow w;
    w.form.viewer.volumeRenderer->Load("small.dat");
    const std::vector<uint8_t> startup = LookupTexels(w.form);
    ASSERT_FALSE(AllTexels(startup, 0));

    AnswerPrompt(QMessageBox::No);
    Click(w.form.SpeedButton2);
    QTest::qWait(100);
    EXPECT_EQ(LookupTexels(w.form), startup);

    Click(w.form.RadioButton8);
    EXPECT_TRUE(AllTexels(LookupTexels(w.form), 0));
}

TEST(TransferFunctionActions, SavingOverAFileTheUserMayNotWriteIsReportedAndKeepsTheFile)
{
    ScratchFolder scratch;
    if (!CanDropPrivileges()) {
        GTEST_SKIP() << "cannot switch to user " << unprivilegedUser << " to be refused a file";
    }
    const std::string folder = UnprivilegedFolder(scratch, "user");
    const std::string target = folder + "/read-only.tf";
    SaveConstantFunction(target, 60);
    const std::string before = ReadFile(target);
    ::chmod(target.c_str(), 0444);
    GiveToUnprivilegedUser(target);
    EXPECT_EXIT(
        {
            EnsureApplication();
            MainWindow w;
            AnswerPrompt(QMessageBox::No,
                         [target](QWidget* modal) { EnterFileName(modal, QString::fromStdString(target)); });
            Click(w.form.SpeedButton3);
            w.Function().AddSample(0, 77, 777);
            // The window and its context exist; from here on the process may
            // not write the file.
            if (!DropPrivileges()) {
                std::_Exit(8);
            }
            QString message;
            WhenMessageBoxOpens([&message](QWidget* box, const QString& text) {
                message = text;
                qobject_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click();
            });
            Click(w.form.SpeedButton4);
            const bool kept = w.Function().IsModified() && w.Function().SampleCount(0) == 2;
            LogClose();
            std::_Exit(message == QString::fromStdString(target) + QStringLiteral(": cannot be created or written") &&
                               kept
                           ? 0
                           : 9);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EQ(ReadFile("debug.log"),
              "[ WARN ] TransferFunction: File creation failed!\n"
              "[ WARN ] Save: " +
                  target + ": cannot be created or written\n");
    EXPECT_EQ(ReadFile(target), before);
    struct stat info;
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0444u);
}
