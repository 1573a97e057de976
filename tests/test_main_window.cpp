#include <GL/glew.h>

#include "Main.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QCheckBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "Camera.h"
#include "NativeTitle.h"
#include "TestSupport.h"
#include "TransferFunction.h"
#include "Transferfunceditor.h"
#include "VolumeRenderer.h"

namespace {
void Answer(QMessageBox::StandardButton button)
{
    WhenModalOpens(QStringLiteral("SavePrompt"), [button](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box->text() != QStringLiteral("Save transfer function ?") || box->icon() != QMessageBox::Question) {
            std::_Exit(10);
        }
        box->button(button)->click();
    });
}

int CountFrames(TMainForm& form, int milliseconds)
{
    int frames = 0;
    QMetaObject::Connection c = QObject::connect(form.idleTimer, &QTimer::timeout, [&frames] { ++frames; });
    QTest::qWait(milliseconds);
    QObject::disconnect(c);
    return frames;
}
}  // namespace

TEST(MainWindow, StartsWithTheLayoutsInitialState)
{
    ScratchFolder scratch;
    EnsureApplication();
    TMainForm form;

    EXPECT_EQ(form.windowTitle(), QString());
    EXPECT_EQ(form.minimumWidth(), 264);
    EXPECT_EQ(form.minimumHeight(), form.height());
    EXPECT_EQ(form.PageControl1->count(), 4);
    EXPECT_EQ(form.PageControl1->tabText(0), QStringLiteral("General"));
    EXPECT_EQ(form.PageControl1->tabText(1), QStringLiteral("Rendering"));
    EXPECT_EQ(form.PageControl1->tabText(2), QStringLiteral("Cut"));
    EXPECT_EQ(form.PageControl1->tabText(3), QStringLiteral("Presets"));
    EXPECT_EQ(form.PageControl1->currentIndex(), 0);
    EXPECT_EQ(form.Panel1->geometry(), QRect(0, 0, 537, 595));
    EXPECT_EQ(form.Panel2->geometry(), QRect(536, 0, 256, 598));

    const std::pair<QAbstractButton*, const char*> captions[] = {
        {form.SpeedButton1, "Open"},
        {form.SpeedButton2, "New"},
        {form.SpeedButton3, "Load"},
        {form.SpeedButton4, "Save"},
        {form.SpeedButton5, "Edit"},
        {form.RadioButton10, "Pre-classification"},
        {form.RadioButton11, "Shaders"},
        {form.RadioButton19, "None"},
        {form.RadioButton7, "Intensity"},
        {form.RadioButton8, "Intensity && gradient"},
        {form.RadioButton3, "Minimum intensity"},
        {form.RadioButton4, "Maximum intensity"},
        {form.RadioButton5, "Blend"},
        {form.RadioButton6, "Default"},
        {form.SpeedButton7, "Up"},
        {form.SpeedButton8, "Down"},
        {form.SpeedButton9, "Back"},
        {form.SpeedButton10, "Left"},
        {form.SpeedButton11, "Right"},
        {form.SpeedButton12, "Front"},
        {form.SpeedButton13, "Backward"},
        {form.SpeedButton14, "Forward"},
        {form.SpeedButton15, "Exit"},
        {form.CheckBox1, "Free rotate"},
        {form.CheckBox2, "x-axis"},
        {form.CheckBox3, "y-axis"},
        {form.CheckBox4, "z-axis"},
        {form.RadioButton1, "Slices"},
        {form.RadioButton12, "All"},
        {form.RadioButton13, "Specific"},
        {form.RadioButton2, "Volume Texture"},
        {form.RadioButton14, "All"},
        {form.RadioButton15, "Specific"},
        {form.RadioButton9, "Ray Casting"},
        {form.CheckBox5, "Adaptive step size"},
        {form.CheckBox6, "Lighting"},
    };
    for (const auto& [control, caption] : captions) {
        EXPECT_EQ(control->text(), QString::fromLatin1(caption)) << control->objectName().toStdString();
    }

    for (QRadioButton* selected :
         {form.RadioButton19, form.RadioButton7, form.RadioButton12, form.RadioButton14, form.RadioButton9}) {
        EXPECT_TRUE(selected->isChecked()) << selected->objectName().toStdString();
    }
    for (QRadioButton* blend : {form.RadioButton3, form.RadioButton4, form.RadioButton5, form.RadioButton6}) {
        EXPECT_FALSE(blend->isChecked());
    }
    for (QCheckBox* box : {form.CheckBox1, form.CheckBox2, form.CheckBox3, form.CheckBox4}) {
        EXPECT_FALSE(box->isChecked());
    }
    EXPECT_TRUE(form.CheckBox5->isChecked());
    EXPECT_TRUE(form.CheckBox6->isChecked());

    // Ray casting is selected at start, so the three slice groups are disabled.
    EXPECT_FALSE(form.GroupBox1->isEnabled());
    EXPECT_FALSE(form.GroupBox9->isEnabled());
    EXPECT_FALSE(form.GroupBox10->isEnabled());
    EXPECT_EQ(form.viewer.volumeRenderer->renderMethod, VolumeRenderer::RayCasting);

    const auto bars = form.findChildren<QScrollBar*>(QRegularExpression(QStringLiteral("^ScrollBar\\d+$")));
    EXPECT_EQ(bars.size(), 11);
    for (QScrollBar* bar : bars) {
        EXPECT_EQ(bar->minimum(), 1);
        EXPECT_EQ(bar->maximum(), 1000);
        EXPECT_EQ(bar->value(), 1);
        EXPECT_EQ(bar->orientation(), Qt::Horizontal);
    }
    for (QLabel* box : {form.Panel4, form.Panel6, form.Panel15, form.Panel5, form.Panel3, form.Panel12, form.Panel9}) {
        EXPECT_TRUE(box->text().isEmpty()) << box->objectName().toStdString();
    }

    // The start-up transfer function is unsaved, without a file name.
    EXPECT_TRUE(form.viewer.transferFunction.IsModified());
    EXPECT_FALSE(form.viewer.transferFunction.HasFileName());
    EXPECT_EQ(form.viewer.transferFunction.SampleCount(3), 4u);
    EXPECT_FLOAT_EQ(form.viewer.viewControl.distance,
                    Camera::FramedDistance(form.viewer.display.width, form.viewer.display.height));
    EXPECT_FALSE(form.viewer.volumeRenderer->IsLoaded());
}

TEST(MainWindow, EmptiesTheLogAndShowsZeroFpsAtOnce)
{
    ScratchFolder scratch;
    WriteFile("debug.log", "left over from an earlier run\n");
    EnsureApplication();
    TMainForm form;
    form.show();
    EXPECT_EQ(ReadFile("debug.log"), "");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form.Panel4->text().isEmpty(); }, 2000));
    EXPECT_EQ(form.Panel4->text(), QStringLiteral("0 fps"));
    // The caption is renewed once a second with the real rate.
    EXPECT_TRUE(QTest::qWaitFor([&] { return form.Panel4->text() != QStringLiteral("0 fps"); }, 3000));
    EXPECT_TRUE(form.Panel4->text().endsWith(QStringLiteral(" fps")));
    EXPECT_NE(form.Panel4->text(), QStringLiteral("0 fps"));
    EXPECT_GT(CountFrames(form, 200), 0);
}

TEST(MainWindow, CannotBeMadeSmallerThanItsMinimum)
{
    ScratchFolder scratch;
    EnsureApplication();
    TMainForm form;
    form.show();
    form.resize(100, 100);
    QTest::qWait(50);
    EXPECT_GE(form.width(), 264);
    EXPECT_GE(form.height(), 599);
    form.resize(1000, 700);
    QTest::qWait(50);
    // The render panel follows the window; the control column keeps its width at the right edge.
    EXPECT_EQ(form.Panel1->width(), 1000 - 255);
    EXPECT_EQ(form.Panel2->x(), 1000 - 256);
    EXPECT_EQ(form.Panel2->width(), 256);
    EXPECT_EQ(form.viewer.display.width, form.renderContainer->width());
    EXPECT_EQ(form.viewer.display.height, form.renderContainer->height());
}

TEST(MainWindow, CancelKeepsTheWindowAndItsFrames)
{
    ScratchFolder scratch;
    EnsureApplication();
    TMainForm form;
    form.show();
    bool asked = false;
    WhenModalOpens([&asked](QWidget* modal) {
        asked = true;
        qobject_cast<QMessageBox*>(modal)->button(QMessageBox::Cancel)->click();
    });
    EXPECT_FALSE(form.close());
    EXPECT_TRUE(asked);
    EXPECT_TRUE(form.isVisible());
    EXPECT_GT(CountFrames(form, 200), 0);
}

TEST(MainWindow, CtrlEAsksToClose)
{
    ScratchFolder scratch;
    EnsureApplication();
    TMainForm form;
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    bool asked = false;
    WhenModalOpens([&asked](QWidget* modal) {
        asked = true;
        qobject_cast<QMessageBox*>(modal)->button(QMessageBox::Cancel)->click();
    });
    QTest::keyClick(&form, Qt::Key_E, Qt::ControlModifier);
    EXPECT_TRUE(QTest::qWaitFor([&asked] { return asked; }, 2000));
    EXPECT_TRUE(form.isVisible());
}

TEST(MainWindow, NoClosesWithStatusZeroWhileFramesGoOn)
{
    ScratchFolder scratch;
    EXPECT_EXIT(
        {
            EnsureApplication();
            TMainForm form;
            form.show();
            WhenModalOpens([&form](QWidget* modal) {
                // Frames go on while the prompt is open.
                if (CountFrames(form, 300) == 0) {
                    std::_Exit(11);
                }
                qobject_cast<QMessageBox*>(modal)->button(QMessageBox::No)->click();
            });
            form.close();
            std::_Exit(12);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EQ(ReadFile("debug.log"), "");
}

TEST(MainWindow, YesWithoutAFileNameAsksForOneAndCancellingStillCloses)
{
    ScratchFolder scratch;
    EXPECT_EXIT(
        {
            EnsureApplication();
            TMainForm form;
            form.show();
            WhenModalOpens(QStringLiteral("TFSaveDialog"), [](QWidget* modal) {
                WriteFile("save-dialog-shown", "yes");
                qobject_cast<QFileDialog*>(modal)->reject();
            });
            Answer(QMessageBox::Yes);
            // Closing ends the process; returning here means it did not close.
            form.close();
            std::_Exit(12);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EQ(ReadFile("save-dialog-shown"), "yes");
    EXPECT_EQ(ReadFile("debug.log"), "");
}

TEST(MainWindow, ExitButtonClosesAfterNo)
{
    ScratchFolder scratch;
    EXPECT_EXIT(
        {
            EnsureApplication();
            TMainForm form;
            form.show();
            Answer(QMessageBox::No);
            QTest::mouseClick(form.SpeedButton15, Qt::LeftButton);
            std::_Exit(12);
        },
        testing::ExitedWithCode(0), "");
}

TEST(MainWindow, FramesGoOnWhileAFileDialogIsOpen)
{
    ScratchFolder scratch;
    EnsureApplication();
    TMainForm form;
    form.show();
    int framesWhileOpen = -1;
    WhenModalOpens(QStringLiteral("FileOpenDialog"), [&form, &framesWhileOpen](QWidget* modal) {
        framesWhileOpen = CountFrames(form, 1000);
        qobject_cast<QFileDialog*>(modal)->reject();
    });
    form.OpenVolumeActionExecute();
    EXPECT_GT(framesWhileOpen, 10);
    EXPECT_EQ(form.windowTitle(), QString());
}

TEST(MainWindow, FramesOfAVolumeGoOnWhileAFileDialogIsOpen)
{
    ScratchFolder scratch;
    EnsureApplication();
    TMainForm form;
    form.show();
    WriteVolume(scratch.Path("ball.dat"), 32, 32, 32, [](uint32_t x, uint32_t y, uint32_t z) {
        const int dx = int(x) - 16, dy = int(y) - 16, dz = int(z) - 16;
        return uint16_t(dx * dx + dy * dy + dz * dz < 144 ? 2500 : 0);
    });
    form.viewer.volumeRenderer->Load(scratch.Path("ball.dat").c_str());
    int framesWhileOpen = -1;
    WhenModalOpens(QStringLiteral("FileOpenDialog"), [&form, &framesWhileOpen](QWidget* modal) {
        framesWhileOpen = CountFrames(form, 1000);
        qobject_cast<QFileDialog*>(modal)->reject();
    });
    form.OpenVolumeActionExecute();
    EXPECT_GT(framesWhileOpen, 3);
}

namespace {
// Closes the next exception box once it shows the given text; frames must go
// on while it is open. Sets shown when it closes the box.
void CloseExceptionBox(TMainForm& form, const QString& text, bool& shown)
{
    WhenModalOpens(QStringLiteral("ExceptionBox"), [&form, text, &shown](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box || box->text() != text || box->icon() != QMessageBox::Critical) {
            std::_Exit(20);
        }
        if (CountFrames(form, 200) == 0) {
            std::_Exit(21);
        }
        shown = true;
        box->button(QMessageBox::Ok)->click();
    });
}
}  // namespace

TEST(MainWindow, ExceptionsFromAHandlerOrAFrameAreShownAndTheProgramGoesOn)
{
    ScratchFolder scratch;
    EXPECT_EXIT(
        {
            EnsureApplication();
            TMainForm form;
            form.show();
            if (!QTest::qWaitForWindowExposed(&form)) {
                std::_Exit(30);
            }

            // A handler: the button's own action has run before the throw.
            QObject::connect(form.SpeedButton13, &QPushButton::clicked,
                             [] { throw std::runtime_error("thrown by a handler"); });
            bool handlerShown = false;
            CloseExceptionBox(form, QStringLiteral("thrown by a handler"), handlerShown);
            QTest::mouseClick(form.SpeedButton13, Qt::LeftButton);
            if (!QTest::qWaitFor([&handlerShown] { return handlerShown; }, 5000) ||
                form.viewer.viewControl.distance <=
                    Camera::FramedDistance(form.viewer.display.width, form.viewer.display.height)) {
                std::_Exit(31);
            }
            if (CountFrames(form, 200) == 0) {
                std::_Exit(32);
            }

            // An object that is no standard exception shows an empty text.
            QObject::connect(form.SpeedButton14, &QPushButton::clicked, [] { throw 42; });
            bool otherShown = false;
            CloseExceptionBox(form, QString(), otherShown);
            QTest::mouseClick(form.SpeedButton14, Qt::LeftButton);
            if (!QTest::qWaitFor([&otherShown] { return otherShown; }, 5000)) {
                std::_Exit(33);
            }

            // A frame.
            bool thrown = false;
            QObject::connect(form.idleTimer, &QTimer::timeout, [&thrown] {
                if (!thrown) {
                    thrown = true;
                    throw std::runtime_error("thrown in a frame");
                }
            });
            bool frameShown = false;
            CloseExceptionBox(form, QStringLiteral("thrown in a frame"), frameShown);
            if (!QTest::qWaitFor([&frameShown] { return frameShown; }, 5000)) {
                std::_Exit(34);
            }
            if (CountFrames(form, 200) == 0) {
                std::_Exit(35);
            }

            // The normal close still ends the program with status 0.
            Answer(QMessageBox::No);
            form.close();
            std::_Exit(36);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EQ(ReadFile("debug.log"), "");
}

namespace {
// Types the name into the open file dialog key by key, as a user does, waits
// until the completion list shows, and confirms with Return from the keyboard.
void TypeFileName(QWidget* modal, const std::string& name)
{
    auto* edit = modal->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(edit, nullptr);
    ASSERT_NE(edit->completer(), nullptr);
    edit->setFocus();
    edit->clear();
    const QString typed = QString::fromStdString(name);
    QTest::keyClicks(edit, typed);
    // The list fills as the folders are read.
    QCompleter* completer = edit->completer();
    EXPECT_TRUE(QTest::qWaitFor(
        [completer, edit, typed] {
            return completer->popup()->isVisible() && completer->completionCount() >= 1 && edit->text() == typed;
        },
        10000))
        << "no completion list for " << name;
    QTest::keyClick(modal->windowHandle(), Qt::Key_Return);
    // Where the list took the first Return to close itself, a second one
    // confirms the name.
    if (!QTest::qWaitFor([modal] { return !modal->isVisible(); }, 1000)) {
        QTest::keyClick(modal->windowHandle(), Qt::Key_Return);
    }
    if (!QTest::qWaitFor([modal] { return !modal->isVisible(); }, 5000)) {
        ADD_FAILURE() << "the dialog stayed open with " << edit->text().toStdString() << " in "
                      << qobject_cast<QFileDialog*>(modal)->directory().path().toStdString();
        qobject_cast<QDialog*>(modal)->reject();
    }
}

bool AnyPopupShown()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->windowType() == Qt::Popup) {
            return true;
        }
    }
    return QApplication::activePopupWidget() != nullptr;
}

// Ctrl+O, typed on the main window, opens the volume dialog; it is cancelled.
// The keyboard goes to the main window.
bool CtrlOOpensTheDialog(TMainForm& form)
{
    bool opened = false;
    WhenModalOpens(QStringLiteral("FileOpenDialog"), [&opened](QWidget* modal) {
        opened = true;
        qobject_cast<QDialog*>(modal)->reject();
    });
    QTest::keyClick(form.windowHandle(), Qt::Key_O, Qt::ControlModifier);
    const bool shown = QTest::qWaitFor([&opened] { return opened; }, 3000);
    // Xvfb has no window manager to give the keyboard back after a cancel.
    form.activateWindow();
    return QTest::qWaitForWindowActive(&form) && shown;
}
}  // namespace

TEST(MainWindow, ATypedFileNameLeavesNoCompletionListBehindAndTheShortcutsWorkAtOnce)
{
    ScratchFolder scratch;
    EnsureApplication();
    // Each name also begins a folder's name, so that the completion list shows
    // while the name is typed in full.
    WriteVolume(scratch.Path("ball.dat"), 8, 8, 8, [](uint32_t x, uint32_t, uint32_t) { return uint16_t(x * 100); });
    TransferFunction function;
    function.AddSample(3, 200, 1000);
    ASSERT_TRUE(function.Save(scratch.Path("head.tf").c_str()));
    for (const char* folder : {"ball.dat.d", "head.tf.d", "saved.tf.d"}) {
        std::filesystem::create_directory(scratch.Path(folder));
    }
    TTransferFuncEditForm editor;
    TMainForm form(&editor);
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));

    // Save without a file name asks for one.
    WhenModalOpens(QStringLiteral("TFSaveDialog"),
                   [&](QWidget* modal) { TypeFileName(modal, scratch.Path("saved.tf")); });
    QTest::mouseClick(form.SpeedButton4, Qt::LeftButton);
    EXPECT_EQ(ReadFile(scratch.Path("saved.tf")).size(), 140u);
    EXPECT_FALSE(AnyPopupShown());
    EXPECT_TRUE(CtrlOOpensTheDialog(form));

    // Load.
    WhenModalOpens(QStringLiteral("TFOpenDialog"),
                   [&](QWidget* modal) { TypeFileName(modal, scratch.Path("head.tf")); });
    QTest::mouseClick(form.SpeedButton3, Qt::LeftButton);
    EXPECT_EQ(form.viewer.transferFunction.SampleCount(3), 1u);
    EXPECT_FALSE(AnyPopupShown());
    EXPECT_TRUE(CtrlOOpensTheDialog(form));

    // Open.
    WhenModalOpens(QStringLiteral("FileOpenDialog"),
                   [&](QWidget* modal) { TypeFileName(modal, scratch.Path("ball.dat")); });
    QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&form] { return form.viewer.volumeRenderer->IsLoaded(); }, 5000));
    EXPECT_FALSE(AnyPopupShown());
    EXPECT_TRUE(CtrlOOpensTheDialog(form));

    // Ctrl+E asks to close; Cancel keeps the window.
    bool asked = false;
    WhenModalOpens([&asked](QWidget* modal) {
        asked = true;
        qobject_cast<QMessageBox*>(modal)->button(QMessageBox::Cancel)->click();
    });
    form.viewer.transferFunction.SetModified(true);
    QTest::keyClick(form.windowHandle(), Qt::Key_E, Qt::ControlModifier);
    EXPECT_TRUE(QTest::qWaitFor([&asked] { return asked; }, 3000));
}

TEST(MainWindow, FramesPauseWhileTheWindowIsMinimisedOrHiddenAndResumeWhenItShows)
{
    ScratchFolder scratch;
    EnsureApplication();
    TMainForm form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_GT(CountFrames(form, 300), 0);

    form.showMinimized();
    EXPECT_EQ(CountFrames(form, 300), 0);
    form.showNormal();
    EXPECT_GT(CountFrames(form, 300), 0);

    form.hide();
    EXPECT_EQ(CountFrames(form, 300), 0);
    form.show();
    EXPECT_GT(CountFrames(form, 300), 0);
}

TEST(MainWindow, TitleIsEmptyUntilAVolumeIsOpenedAlsoForTheWindowManager)
{
    ScratchFolder scratch;
    EnsureApplication();
    TMainForm form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_EQ(form.windowTitle(), QString());
    EXPECT_EQ(NativeWindowName(&form), "");
    // The least width counts the window manager's frame, as the outer width.
    EXPECT_EQ(form.minimumWidth() + form.frameGeometry().width() - form.width(), 264);

    const std::string volume = scratch.Path("ball.dat");
    WriteVolume(volume, 8, 8, 8, [](uint32_t x, uint32_t, uint32_t) { return uint16_t(x * 100); });
    WhenModalOpens(QStringLiteral("FileOpenDialog"),
                   [volume](QWidget* modal) { EnterFileName(modal, QString::fromStdString(volume)); });
    form.OpenVolumeActionExecute();
    EXPECT_EQ(form.windowTitle(), QString::fromStdString(volume));
    EXPECT_TRUE(QTest::qWaitFor([&] { return NativeWindowName(&form) == volume; }, 3000)) << NativeWindowName(&form);
}

TEST(MainWindow, FileDialogsKeepTheirOwnButtonsAndAllFilesListsNamesWithoutADot)
{
    ScratchFolder scratch;
    EnsureApplication();
    TMainForm form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    for (QPushButton* button : form.Panel2->findChildren<QPushButton*>()) {
        EXPECT_TRUE(button->isFlat()) << button->objectName().toStdString();
    }
    WriteFile(scratch.Path("README"), "notes");
    WriteFile(scratch.Path("a.dat"), "");
    WriteFile(scratch.Path("b.tf"), "");

    for (QFileDialog* dialog : {form.FileOpenDialog, form.TFOpenDialog, form.TFSaveDialog}) {
        const std::string name = dialog->objectName().toStdString();
        for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
            EXPECT_FALSE(button->isFlat()) << name << " " << button->text().toStdString();
        }
        if (dialog == form.TFSaveDialog) {
            EXPECT_EQ(dialog->nameFilters(), QStringList{QStringLiteral("Transfer function (*.tf)")});
            continue;
        }
        EXPECT_EQ(dialog->nameFilters().size(), dialog == form.FileOpenDialog ? 4 : 2) << name;
        EXPECT_EQ(dialog->nameFilters().back(), QStringLiteral("All files (*)")) << name;
        QStringList listed;
        WhenModalOpens(dialog->objectName(), [&](QWidget* modal) {
            dialog->setDirectory(QString::fromStdString(scratch.path()));
            dialog->selectNameFilter(dialog->nameFilters().back());
            auto* list = modal->findChild<QListView*>(QStringLiteral("listView"));
            if (list) {
                EXPECT_TRUE(QTest::qWaitFor([list] { return list->model()->rowCount(list->rootIndex()) >= 2; }, 3000));
                for (int row = 0; row < list->model()->rowCount(list->rootIndex()); ++row) {
                    listed << list->model()->index(row, 0, list->rootIndex()).data().toString();
                }
            }
            dialog->reject();
        });
        dialog->exec();
        EXPECT_TRUE(listed.contains(QStringLiteral("README"))) << name << ": " << listed.join(' ').toStdString();
        EXPECT_TRUE(listed.contains(QStringLiteral("a.dat"))) << name;
    }
}
