#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "gui/CCustomCourse.h"
#include "gui/DialogBuilder.h"
#include "gui/ModalDriver.h"
#include "res/Dialog131.h"
#include "settings/SettingsFields.h"
#include "support/SettingsDialogCases.h"

namespace {

using namespace dialogcases;

QRadioButton* Radio(const QDialog& d, int id) {
    return d.findChild<QRadioButton*>(QStringLiteral("radio%1").arg(id));
}
QCheckBox* Check(const QDialog& d, int id) {
    return d.findChild<QCheckBox*>(QStringLiteral("check%1").arg(id));
}
QLineEdit* Edit(const QDialog& d, int id) {
    return d.findChild<QLineEdit*>(QStringLiteral("edit%1").arg(id));
}
QLabel* Label(const QDialog& d, int id) {
    return d.findChild<QLabel*>(QStringLiteral("label%1").arg(id));
}
QPushButton* Button(const QDialog& d, int id) {
    return d.findChild<QPushButton*>(QStringLiteral("button%1").arg(id));
}

void Paste(QLineEdit* edit, const QString& text) {
    edit->clear();
    QApplication::clipboard()->setText(text);
    edit->paste();
}

}  // namespace

TEST(CCustomCourseTest, OpensWithTheDefaultControls) {
    CCustomCourse dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("course configuration"));
    for (const int id : kRadios) {
        SCOPED_TRACE(id);
        const bool selected = id == 1003 || id == 1011 || id == 1006 || id == 1044;
        EXPECT_EQ(Radio(dialog, id)->isChecked(), selected);
    }
    for (const int id : kCheckboxes) {
        SCOPED_TRACE(id);
        EXPECT_FALSE(Check(dialog, id)->isChecked());
        EXPECT_EQ(Check(dialog, id)->isHidden(), id == 1013);
    }
    for (const int id : kEdits) {
        SCOPED_TRACE(id);
        EXPECT_EQ(Edit(dialog, id)->text(), id == 1019 ? QStringLiteral("60") : QString());
    }
    EXPECT_EQ(Label(dialog, 1014)->text(), QStringLiteral("Pretest Qst Count"));
    EXPECT_EQ(Label(dialog, 1015)->text(), QStringLiteral("Pretest Passing Score"));
    EXPECT_TRUE(Button(dialog, 1)->isDefault());
    EXPECT_FALSE(Button(dialog, 2)->isDefault());
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_EQ(dialog.focusWidget(), Button(dialog, 1));
}

TEST(CCustomCourseTest, EveryControlSitsWhereTheTemplatePutsItAndShowsItsWholeText) {
    CCustomCourse dialog;
    const DialogUnits units(dialog.font());
    EXPECT_EQ(dialog.size(), units.ToPixels(0, 0, kDialog131.width, kDialog131.height).size());
    int index = 0;
    std::vector<QWidget*> tabStops;
    std::vector<QWidget*> built;
    std::map<QWidget*, int> ids;
    for (const ControlTemplate& control : kDialog131.controls) {
        const QString name = ControlObjectName(control, index++);
        SCOPED_TRACE(name.toStdString() + " " + control.text);
        QWidget* widget = dialog.findChild<QWidget*>(name);
        ASSERT_NE(widget, nullptr);
        // Where the template puts it; a text too wide for the font widens it.
        const QRect placed = units.ToPixels(control.x, control.y, control.width, control.height);
        EXPECT_EQ(widget->pos(), placed.topLeft());
        EXPECT_EQ(widget->height(), placed.height());
        EXPECT_GE(widget->width(), placed.width());
        if (control.kind == ControlKind::Edit || control.kind == ControlKind::GroupBox) {
            EXPECT_EQ(widget->width(), placed.width());
        }
        QString text;
        switch (control.kind) {
            case ControlKind::DefaultPushButton:
            case ControlKind::PushButton:
                text = qobject_cast<QPushButton*>(widget)->text();
                break;
            case ControlKind::Radio:
                text = qobject_cast<QRadioButton*>(widget)->text();
                break;
            case ControlKind::Checkbox:
                text = qobject_cast<QCheckBox*>(widget)->text();
                break;
            case ControlKind::Edit:
                text = qobject_cast<QLineEdit*>(widget)->text();
                break;
            case ControlKind::Label:
                text = qobject_cast<QLabel*>(widget)->text();
                break;
            case ControlKind::GroupBox:
                text = qobject_cast<QGroupBox*>(widget)->title();
                break;
        }
        if (control.kind != ControlKind::Edit) {
            EXPECT_EQ(text, QString::fromUtf8(control.text));
        }
        // Single-line buttons and boxes must not cut their text off.
        if (control.kind == ControlKind::Radio || control.kind == ControlKind::Checkbox ||
            control.kind == ControlKind::DefaultPushButton || control.kind == ControlKind::PushButton) {
            EXPECT_LE(widget->sizeHint().width(), widget->width());
        }
        if (control.kind == ControlKind::Label) {
            auto* label = qobject_cast<QLabel*>(widget);
            EXPECT_LE(label->heightForWidth(label->width()), label->height());
        }
        if (control.group) {
            // Inside the frame of its group box.
            QGroupBox* box = nullptr;
            for (QGroupBox* candidate : dialog.findChildren<QGroupBox*>()) {
                if (candidate->title() == QString::fromUtf8(control.group)) box = candidate;
            }
            ASSERT_NE(box, nullptr);
            EXPECT_TRUE(box->geometry().contains(widget->geometry()));
        }
        if (control.kind != ControlKind::GroupBox) built.push_back(widget);
        ids[widget] = control.id;
        if (control.kind != ControlKind::Label && control.kind != ControlKind::GroupBox && control.tabStop) {
            tabStops.push_back(widget);
        }
    }
    // No two controls overlap (group boxes enclose theirs).
    for (std::size_t i = 0; i < built.size(); ++i) {
        for (std::size_t j = i + 1; j < built.size(); ++j) {
            EXPECT_FALSE(built[i]->geometry().intersects(built[j]->geometry()))
                << built[i]->objectName().toStdString() << " overlaps " << built[j]->objectName().toStdString();
        }
    }
    // Tab goes through the controls as they are read, not in the template's
    // order: rows from top to bottom, each from left to right ("Pretest" is
    // a unit lower than "Assessment / ADL" but beside it). A control added to
    // the template later takes its place by position among these.
    const std::vector<int> byPosition = {1006, 1022, 1003, 1027, 1028, 1016, 1011, 1012, 1041, 1007, 1047, 1009,
                                         1018, 1013, 1024, 1053, 1008, 1044, 1010, 1025, 1045, 1052, 1021, 1019,
                                         1026, 1051, 1033, 1046, 1034, 1043, 1048, 1042, 1,    2};
    std::vector<int> round;  // the tab stops met once round the focus chain, from the first
    std::set<QWidget*> met;
    QWidget* stop = Radio(dialog, byPosition.front());
    for (std::size_t i = 0; i < tabStops.size(); ++i) {
        met.insert(stop);
        if (std::find(byPosition.begin(), byPosition.end(), ids[stop]) != byPosition.end()) {
            round.push_back(ids[stop]);
        }
        do {
            stop = stop->nextInFocusChain();
        } while (stop->focusPolicy() != Qt::StrongFocus && stop->focusPolicy() != Qt::WheelFocus);
    }
    EXPECT_EQ(round, byPosition);
    EXPECT_EQ(met, std::set<QWidget*>(tabStops.begin(), tabStops.end()));
    EXPECT_EQ(stop, Radio(dialog, byPosition.front())) << "the chain does not close after every tab stop";
    EXPECT_EQ(Check(dialog, 1040)->focusPolicy(), Qt::ClickFocus);
}

TEST(CCustomCourseTest, TheTestModeRadiosRelabelAndShowOrHideAutoSkip) {
    CCustomCourse dialog;
    Radio(dialog, 1012)->click();
    EXPECT_FALSE(Check(dialog, 1013)->isHidden());
    EXPECT_EQ(Label(dialog, 1014)->text(), QStringLiteral("Postscriptive posttest question count (3-6)"));
    EXPECT_EQ(Label(dialog, 1015)->text(), QStringLiteral("Assessment / Prescriptive Posttest Passing Score"));
    for (QLabel* label : {Label(dialog, 1014), Label(dialog, 1015)}) {
        EXPECT_LE(label->heightForWidth(label->width()), label->height()) << label->text().toStdString();
    }
    EXPECT_TRUE(Radio(dialog, 1012)->isChecked());
    EXPECT_FALSE(Radio(dialog, 1011)->isChecked());

    Check(dialog, 1013)->setChecked(true);
    Radio(dialog, 1011)->click();
    EXPECT_TRUE(Check(dialog, 1013)->isHidden());
    EXPECT_TRUE(Check(dialog, 1013)->isChecked());  // hidden, not cleared
    EXPECT_EQ(Label(dialog, 1014)->text(), QStringLiteral("Pretest Question Count"));
    EXPECT_EQ(Label(dialog, 1015)->text(), QStringLiteral("Pretest Passing Score"));
}

TEST(CCustomCourseTest, EachRadioGroupKeepsToItself) {
    CCustomCourse dialog;
    Radio(dialog, 1022)->click();
    EXPECT_TRUE(Radio(dialog, 1022)->isChecked());
    EXPECT_FALSE(Radio(dialog, 1006)->isChecked());
    EXPECT_TRUE(Radio(dialog, 1044)->isChecked());
    EXPECT_TRUE(Radio(dialog, 1011)->isChecked());
    EXPECT_TRUE(Radio(dialog, 1003)->isChecked());

    Radio(dialog, 1045)->click();
    EXPECT_FALSE(Radio(dialog, 1044)->isChecked());
    EXPECT_TRUE(Radio(dialog, 1022)->isChecked());
    Radio(dialog, 1052)->click();
    EXPECT_FALSE(Radio(dialog, 1044)->isChecked());
    EXPECT_FALSE(Radio(dialog, 1045)->isChecked());
    EXPECT_TRUE(Radio(dialog, 1022)->isChecked());
    Radio(dialog, 1045)->click();
    EXPECT_FALSE(Radio(dialog, 1052)->isChecked());

    Radio(dialog, 1012)->click();
    EXPECT_TRUE(Radio(dialog, 1022)->isChecked());
    EXPECT_TRUE(Radio(dialog, 1045)->isChecked());

    // The file format has one choice: clicking it again keeps it.
    Radio(dialog, 1003)->click();
    EXPECT_TRUE(Radio(dialog, 1003)->isChecked());
}

TEST(CCustomCourseTest, OkTurnsTheControlsIntoTheRecord) {
    struct Row {
        const char* name;
        std::function<void(CCustomCourse&)> change;
        std::function<void(CourseSettings&)> expect;
    };
    const Row rows[] = {
        {"nothing changed", [](CCustomCourse&) {}, [](CourseSettings&) {}},
        {"Course Timeout cleared keeps 60", [](CCustomCourse& d) { Edit(d, 1019)->clear(); }, [](CourseSettings&) {}},
        {"Course Timeout 0", [](CCustomCourse& d) { Edit(d, 1019)->setText(QStringLiteral("0")); },
         [](CourseSettings& s) { s.courseTimeout = 0; }},
        {"Pretest mode takes the posttest edits",
         [](CCustomCourse& d) {
             Edit(d, 1007)->setText(QStringLiteral("5"));
             Edit(d, 1009)->setText(QStringLiteral("80"));
             Edit(d, 1008)->setText(QStringLiteral("10"));
             Edit(d, 1010)->setText(QStringLiteral("70"));
             Edit(d, 1021)->setText(QStringLiteral("2"));
         },
         [](CourseSettings& s) {
             s.pretestQuestionCount = 5;
             s.pretestPassingScore = 80;
             s.posttestQuestionCount = 10;
             s.posttestPassingScore = 70;
             s.posttestRetakeCount = 2;
         }},
        {"Assessment copies the pretest values",
         [](CCustomCourse& d) {
             Radio(d, 1012)->click();
             Edit(d, 1007)->setText(QStringLiteral("5"));
             Edit(d, 1009)->setText(QStringLiteral("80"));
             Edit(d, 1008)->setText(QStringLiteral("10"));
             Edit(d, 1010)->setText(QStringLiteral("70"));
         },
         [](CourseSettings& s) {
             s.testMode = TestMode::Assessment;
             s.assessmentAutoSkip = false;
             s.pretestQuestionCount = 5;
             s.pretestPassingScore = 80;
             s.posttestQuestionCount = 5;
             s.posttestPassingScore = 80;
         }},
        {"Assessment with an empty pretest count copies the default",
         [](CCustomCourse& d) {
             Radio(d, 1012)->click();
             Check(d, 1013)->setChecked(true);
             Edit(d, 1008)->setText(QStringLiteral("7"));
             Edit(d, 1007)->setText(QStringLiteral("9"));
             Edit(d, 1007)->clear();
         },
         [](CourseSettings& s) {
             s.testMode = TestMode::Assessment;
             s.assessmentAutoSkip = true;
             s.posttestQuestionCount = 0;
             s.posttestPassingScore = -1;
         }},
        {"a count of 9 in Assessment mode is taken",
         [](CCustomCourse& d) {
             Radio(d, 1012)->click();
             Edit(d, 1007)->setText(QStringLiteral("9"));
         },
         [](CourseSettings& s) {
             s.testMode = TestMode::Assessment;
             s.assessmentAutoSkip = false;
             s.pretestQuestionCount = 9;
             s.posttestQuestionCount = 9;
         }},
        {"auto-skip ticked, then back to Pretest: the default stays",
         [](CCustomCourse& d) {
             Radio(d, 1012)->click();
             Check(d, 1013)->setChecked(false);
             Radio(d, 1011)->click();
         },
         [](CourseSettings& s) { s.assessmentAutoSkip = true; }},
        {"pasted text is converted",
         [](CCustomCourse& d) {
             Paste(Edit(d, 1007), QStringLiteral("12ab"));
             Paste(Edit(d, 1009), QStringLiteral("ab"));
             Paste(Edit(d, 1021), QStringLiteral(" -3"));
         },
         [](CourseSettings& s) {
             s.pretestQuestionCount = 12;
             s.pretestPassingScore = 0;
             s.posttestRetakeCount = -3;
         }},
        {"every checkbox, xAPI, the last exit status",
         [](CCustomCourse& d) {
             for (const int id : kCheckboxes) Check(d, id)->setChecked(true);
             Radio(d, 1045)->click();
             Radio(d, 1028)->click();
         },
         [](CourseSettings& s) {
             s.allowVideoSkip = s.showNavBar = s.accessibilityDefault = s.certificatePrinting = true;
             s.skipCongratsScreen = s.isHr = s.enableHrSetting = s.deleteBmp = true;
             s.updateDescriptionsFromHtml = s.updateFromSpreadsheet = s.updateDescriptionsInInterfaceXml = true;
             s.createVodPackages = s.keepDetailedBookmarking = s.keepIdentifiers = true;
             s.fullScreenAtStartup = "full screen";
             s.packageType = PackageType::Xapi;
             s.exitStatusMode = ExitStatusMode::PassedNoPosttest;
         }},
        {"SCORM 2004", [](CCustomCourse& d) { Radio(d, 1052)->click(); },
         [](CourseSettings& s) { s.packageType = PackageType::Scorm2004; }},
        {"keep identifiers", [](CCustomCourse& d) { Check(d, 1051)->setChecked(true); },
         [](CourseSettings& s) { s.keepIdentifiers = true; }},
        {"exit status completed/incomplete", [](CCustomCourse& d) { Radio(d, 1022)->click(); },
         [](CourseSettings& s) { s.exitStatusMode = ExitStatusMode::CompletedIncomplete; }},
        {"exit status passed/incomplete", [](CCustomCourse& d) { Radio(d, 1027)->click(); },
         [](CourseSettings& s) { s.exitStatusMode = ExitStatusMode::PassedIncomplete; }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CCustomCourse dialog;
        row.change(dialog);
        Button(dialog, 1)->click();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        CourseSettings expected = Untouched();
        row.expect(expected);
        EXPECT_EQ(Describe(dialog.settings), Describe(expected));
    }
}

TEST(CCustomCourseTest, OkRefusesAPassMarkAboveOneHundredNamingItAndStaysOpen) {
    CCustomCourse dialog;
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    Edit(dialog, 1009)->setText(QStringLiteral("90"));
    Paste(Edit(dialog, 1010), QStringLiteral("150abc"));
    {
        ModalDriver driver;
        driver.Then("refusedValueBox", [&dialog](QWidget* widget) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->windowTitle(), QStringLiteral("Quarvel"));
            EXPECT_TRUE(
                box->text().startsWith(QStringLiteral("\"Posttest Passing Score\" holds a pass mark above 100")))
                << box->text().toStdString();
            EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
            EXPECT_EQ(box->parentWidget(), &dialog);
            box->button(QMessageBox::Ok)->click();
        });
        Button(dialog, 1)->click();
        EXPECT_TRUE(driver.AllAnswered());
    }
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.settings.pretestPassingScore, -1);  // nothing was read
    EXPECT_EQ(dialog.focusWidget(), Edit(dialog, 1010));
    EXPECT_EQ(Edit(dialog, 1010)->selectedText(), QStringLiteral("150abc"));

    // Mended, OK goes ahead.
    QTest::keyClicks(Edit(dialog, 1010), QStringLiteral("100"));
    QTest::keyClick(Edit(dialog, 1010), Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.settings.pretestPassingScore, 90);
    EXPECT_EQ(dialog.settings.posttestPassingScore, 100);
}

TEST(CCustomCourseTest, EditsTakeOnlyDigitsFromTheKeyboardButPastedTextWhole) {
    CCustomCourse dialog;
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QLineEdit* edit = Edit(dialog, 1007);
    edit->setFocus();
    QTest::keyClicks(edit, QStringLiteral("1a2 -b3"));
    EXPECT_EQ(edit->text(), QStringLiteral("123"));
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(edit->text(), QStringLiteral("12"));

    edit->clear();
    QApplication::clipboard()->setText(QStringLiteral("12ab"));
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(edit->text(), QStringLiteral("12ab"));
    dialog.reject();
}

TEST(CCustomCourseTest, EnterActsAsOk) {
    CCustomCourse dialog;
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QLineEdit* edit = Edit(dialog, 1007);
    edit->setFocus();
    QTest::keyClicks(edit, QStringLiteral("4"));
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.settings.pretestQuestionCount, 4);
    EXPECT_EQ(dialog.settings.fullScreenAtStartup, "normal");
}

TEST(CCustomCourseTest, EscapeTheCloseBoxAndCancelDiscardTheControls) {
    const std::function<void(CCustomCourse&)> ways[] = {
        [](CCustomCourse& d) { QTest::keyClick(&d, Qt::Key_Escape); },
        [](CCustomCourse& d) { d.close(); },
        [](CCustomCourse& d) { Button(d, 2)->click(); },
    };
    int way = 0;
    for (const auto& cancel : ways) {
        SCOPED_TRACE(way++);
        CCustomCourse dialog;
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        Edit(dialog, 1007)->setText(QStringLiteral("5"));
        cancel(dialog);
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.settings.pretestQuestionCount, 0);
        EXPECT_TRUE(dialog.settings.fullScreenAtStartup.empty());
    }
}

TEST(CCustomCourseTest, EveryFieldOfTheTableIsReadFromItsControl) {
    // The batch program sets the same controls by the same table: the dialog
    // must give each value from the control the table names.
    for (const SettingsField& field : SettingsFields()) {
        SCOPED_TRACE(field.name);
        // Batch-only numbers stay at their defaults: the "nothing changed" row of the OK test shows it.
        if (field.batchOnly) continue;
        if (field.kind == FieldKind::Number) {
            CCustomCourse dialog;
            Edit(dialog, field.control)->setText(QStringLiteral("17"));
            Button(dialog, 1)->click();
            EXPECT_EQ(FieldValueText(dialog.settings, field), "17");
            continue;
        }
        if (field.control == kNoControl && field.kind == FieldKind::Flag) continue;
        for (const FieldValue& value : field.values) {
            SCOPED_TRACE(value.name);
            CCustomCourse dialog;
            if (field.inAssessment == InAssessment::OnlyThen) Radio(dialog, AssessmentRadio())->click();
            if (field.kind == FieldKind::Flag) {
                Check(dialog, field.control)->setChecked(value.value != 0);
            } else {
                Radio(dialog, value.radio)->click();
            }
            Button(dialog, 1)->click();
            EXPECT_EQ(FieldValueText(dialog.settings, field), value.name);
        }
    }
}
