#pragma once

#include "Base.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace abdtest {

// Shows a window modally and plays the steps inside its modal loop, one
// every 20 ms, so the loop goes idle between them as it would for a user.
// Returns the modal result. A window still open a second after the last
// step is closed and the test fails.
inline int RunModal(TfBase &Form, std::vector<std::function<void()>> Steps)
{
    size_t next = 0;
    int idleTicks = 0;
    QTimer timer;
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (!Form.isVisible())
            return;
        // Let the window become active first, as it does before a user types.
        if (next == 0 && !Form.isActiveWindow() && ++idleTicks < 25)
            return;
        if (next == 0)
            idleTicks = 0;
        if (next < Steps.size()) {
            Steps[next++]();
        } else if (++idleTicks > 50) {
            ADD_FAILURE() << "the modal window did not close";
            Form.close();
        }
    });
    timer.start();
    const int result = Form.ShowModal();
    timer.stop();
    EXPECT_EQ(next, Steps.size()) << "the modal window closed before every step ran";
    return result;
}

// Runs Action while a message box is expected: the box is captured, its
// caption, text and icon recorded, and closed with OK.
struct CapturedBox {
    bool shown = false;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

inline CapturedBox CaptureMessageBox(const std::function<void()> &Action)
{
    CapturedBox box;
    QTimer timer;
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (auto *m = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            box.shown = true;
            box.title = m->windowTitle();
            box.text = m->text();
            box.icon = m->icon();
            m->accept();
        }
    });
    timer.start();
    Action();
    timer.stop();
    return box;
}

} // namespace abdtest
