#pragma once
// Reading the main window's widgets and driving a run from its OK button,
// shared by the tests with a scripted run and with the real one.

#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QString>
#include <QTest>

#include "main_window.hpp"
#include "modal.hpp"

namespace velmora::gui::test {

inline QPushButton* button(const VelmoraDlg& w, const char* name) {
    return w.findChild<QPushButton*>(QString::fromLatin1(name));
}

inline QString generation_text(const VelmoraDlg& w) {
    return w.findChild<QLabel*>("generationDisplay")->text();
}

inline QString messages(const VelmoraDlg& w) {
    return w.findChild<QPlainTextEdit*>("messageArea")->toPlainText();
}

// Shows the window, presses OK and waits until a generation is on display.
// A caller that goes on afterwards stops when QTest::currentTestFailed().
inline void start_and_wait_for_a_generation(VelmoraDlg& w, int timeout_ms = 5000) {
    w.show();
    QTest::mouseClick(button(w, "okButton"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!generation_text(w).isEmpty(), timeout_ms);
}

// Presses OK on a shown window whose run fails: the failure must come as a
// critical "Error" box with one button showing `text`, after which OK is
// enabled again and the window stays open. A caller that goes on afterwards
// stops when QTest::currentTestFailed().
inline void expect_error_box_after_ok(VelmoraDlg& w, const QString& text, int timeout_ms) {
    auto seen = answer_box();
    QTest::mouseClick(button(w, "okButton"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!seen->text.isEmpty(), timeout_ms);
    QCOMPARE(seen->title, QString("Error"));
    QCOMPARE(seen->icon, QMessageBox::Critical);
    QCOMPARE(seen->buttons, 1);
    QCOMPARE(seen->text, text);
    QTRY_VERIFY(button(w, "okButton")->isEnabled());
    QVERIFY(w.isVisible());
}

}  // namespace velmora::gui::test
