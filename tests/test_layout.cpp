#include <gtest/gtest.h>

#include "Main.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QImage>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QTabWidget>
#include <QTest>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "Transferfunceditor.h"

namespace {
std::string Name(const QWidget* widget)
{
    const QString name = widget->objectName();
    if (!name.isEmpty()) {
        return name.toStdString();
    }
    if (auto* label = qobject_cast<const QLabel*>(widget)) {
        return "label \"" + label->text().toStdString() + "\"";
    }
    return widget->metaObject()->className();
}

std::string Text(const QRect& r)
{
    return "(" + std::to_string(r.x()) + ", " + std::to_string(r.y()) + ", " + std::to_string(r.width()) + " x " +
           std::to_string(r.height()) + ")";
}

// A caption: a label without a frame, unlike the value boxes.
bool IsCaption(const QWidget* widget)
{
    auto* label = qobject_cast<const QLabel*>(widget);
    return label && label->frameShape() == QFrame::NoFrame;
}

// The indicator and the text of a radio button or check box, where the style
// draws them, in the button's parent.
QRect IndicatorAndText(const QAbstractButton* button)
{
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const bool radio = qobject_cast<const QRadioButton*>(button) != nullptr;
    const QStyle* style = button->style();
    const QRect indicator =
        style->subElementRect(radio ? QStyle::SE_RadioButtonIndicator : QStyle::SE_CheckBoxIndicator, &option, button);
    const QRect contents =
        style->subElementRect(radio ? QStyle::SE_RadioButtonContents : QStyle::SE_CheckBoxContents, &option, button);
    const QRect text = button->fontMetrics().boundingRect(
        contents, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic, button->text());
    return indicator.united(text).translated(button->pos());
}

bool IsRadioOrCheck(const QWidget* widget)
{
    return qobject_cast<const QRadioButton*>(widget) || qobject_cast<const QCheckBox*>(widget);
}

// The part of a control that shows: a caption's text, a radio button's or a
// check box's indicator and text, a whole control else.
QRect DrawnRect(const QWidget* widget)
{
    if (IsCaption(widget)) {
        return QRect(widget->pos(), widget->sizeHint());
    }
    if (IsRadioOrCheck(widget)) {
        return IndicatorAndText(static_cast<const QAbstractButton*>(widget));
    }
    return widget->geometry();
}

// The room inside the group's frame and below its title, and the title, in
// the group's own coordinates, as the style lays them out.
void GroupParts(const QGroupBox* group, QRect& inside, QRect& title)
{
    inside = group->contentsRect();
    QStyleOptionGroupBox option;
    option.initFrom(group);
    option.text = group->title();
    option.lineWidth = 1;
    option.textAlignment = group->alignment();
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    title = group->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, group);
}

int PushButtonTextRoom(const QPushButton* button)
{
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    option.features = button->isFlat() ? QStyleOptionButton::Flat : QStyleOptionButton::None;
    return button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button).width();
}

// Every problem of reading in the controls under the container: a control
// across its group's frame or title, a caption over another control, a text
// cut off.
void CollectProblems(const QWidget* container, std::vector<std::string>& problems)
{
    const auto children = container->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    const auto* group = qobject_cast<const QGroupBox*>(container);
    QRect inside, title;
    if (group) {
        GroupParts(group, inside, title);
    }
    for (const QWidget* child : children) {
        if (child->isWindow()) {
            continue;
        }
        const QRect drawn = DrawnRect(child);
        if (group && !inside.contains(drawn)) {
            problems.push_back(Name(child) + " " + Text(drawn) + " crosses the frame of " + Name(group) + " " +
                               Text(inside));
        }
        if (group && drawn.intersects(title)) {
            problems.push_back(Name(child) + " " + Text(drawn) + " is drawn across the title of " + Name(group) + " " +
                               Text(title));
        }
        if (IsCaption(child)) {
            if (child->width() < child->sizeHint().width() || child->height() < child->sizeHint().height()) {
                problems.push_back(Name(child) + " is cut off");
            }
            for (const QWidget* other : children) {
                if (other != child && !other->isWindow() && drawn.intersects(DrawnRect(other))) {
                    problems.push_back(Name(child) + " " + Text(drawn) + " overlaps " + Name(other) + " " +
                                       Text(DrawnRect(other)));
                }
            }
        }
        if (auto* button = qobject_cast<const QPushButton*>(child)) {
            if (button->fontMetrics().boundingRect(button->text()).width() > PushButtonTextRoom(button)) {
                problems.push_back(Name(child) + " \"" + button->text().toStdString() + "\" is cut off");
            }
        }
        if (IsRadioOrCheck(child) && !child->geometry().contains(drawn)) {
            problems.push_back(Name(child) + " " + Text(child->geometry()) + " is cut off, draws " + Text(drawn));
        }
        if (qobject_cast<const QGroupBox*>(child) ||
            (!qobject_cast<const QAbstractButton*>(child) && !qobject_cast<const QAbstractSpinBox*>(child) &&
             !qobject_cast<const QScrollBar*>(child) && !qobject_cast<const QLabel*>(child))) {
            CollectProblems(child, problems);
        }
    }
}

std::string Listed(const std::vector<std::string>& problems)
{
    std::string text;
    for (const std::string& p : problems) {
        text += "  " + p + "\n";
    }
    return text;
}

// The pictures go beside the test, for people to look at.
void SavePicture(QWidget& window, const QString& folder, const char* name)
{
    const qreal scale = window.devicePixelRatioF();
    const QString file = folder + QStringLiteral("/layout-%1-%2x.png").arg(QLatin1String(name)).arg(scale);
    EXPECT_TRUE(window.grab().save(file)) << file.toStdString();
}

QLabel* Caption(const QWidget* parent, const char* text)
{
    for (QLabel* label : parent->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        if (label->text() == QLatin1String(text)) {
            return label;
        }
    }
    ADD_FAILURE() << "no caption \"" << text << "\" in " << Name(parent);
    return nullptr;
}
}  // namespace

TEST(Layout, ControlsOfBothPagesAndTheEditorReadAsLaidOut)
{
    const QString pictures = QDir::currentPath();
    ScratchFolder scratch;
    EnsureApplication();
    TTransferFuncEditForm editor;
    TMainForm form(&editor);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));

    std::vector<std::string> problems;
    CollectProblems(form.TabSheet1, problems);
    EXPECT_TRUE(problems.empty()) << "page \"General\":\n" << Listed(problems);
    SavePicture(form, pictures, "general");

    form.PageControl1->setCurrentWidget(form.TabSheet2);
    problems.clear();
    CollectProblems(form.TabSheet2, problems);
    EXPECT_TRUE(problems.empty()) << "page \"Rendering\":\n" << Listed(problems);
    SavePicture(form, pictures, "rendering");

    // The axis captions stand where the layout puts them.
    for (const char* axis : {"x =", "y =", "z ="}) {
        for (QGroupBox* group : {form.GroupBox9, form.GroupBox10}) {
            if (QLabel* label = Caption(group, axis)) {
                EXPECT_EQ(label->x(), 24) << axis;
            }
        }
        if (QLabel* label = Caption(form.GroupBox1, axis)) {
            EXPECT_EQ(label->x(), 8) << axis;
        }
    }
    EXPECT_EQ(form.Label10->pos(), QPoint(32, 424));
    EXPECT_EQ(form.Label11->pos(), QPoint(32, 448));

    editor.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&editor));
    problems.clear();
    CollectProblems(editor.Panel2, problems);
    EXPECT_TRUE(problems.empty()) << "editor:\n" << Listed(problems);
    EXPECT_EQ(editor.Label1->pos(), QPoint(8, 24));
    EXPECT_EQ(editor.Label2->pos(), QPoint(8, 49));
    SavePicture(editor, pictures, "editor");
    editor.hide();
}

TEST(Layout, FlatButtonsShowAFrameUnderTheMouse)
{
    ScratchFolder scratch;
    EnsureApplication();
    TMainForm form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    QPushButton* button = form.SpeedButton1;
    ASSERT_TRUE(button->isFlat());
    // Moves of the window system's mouse, as the style sees them at every scale.
    const auto moveTo = [&form](const QWidget* target) {
        QTest::mouseMove(form.windowHandle(), target->mapTo(&form, target->rect().center()));
    };
    // On a busy machine a move can come before the window takes the mouse:
    // each wait moves again until the button sees it.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            moveTo(form.Panel4);
            return !button->underMouse();
        },
        5000));
    QTest::qWait(50);
    const QImage away = button->grab().toImage();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            moveTo(button);
            return button->underMouse();
        },
        5000));
    // The left edge, away from the text, shows a line only under the mouse.
    const int x = 0;
    const int y = away.height() / 2;
    EXPECT_EQ(away.pixel(x, y), away.pixel(away.width() / 4, 2)) << "no frame away from the mouse";
    QImage over;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            over = button->grab().toImage();
            return over.pixel(x, y) != away.pixel(x, y);
        },
        2000))
        << "no frame under the mouse";
}
