#pragma once

#include "Base.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace abdtest {

// The one driver of modal windows in the tests: every few milliseconds the
// window that is modal then (null when none is) goes to Responder, inside
// whatever modal loop is running, as a user's answer would.
class Modal {
public:
    explicit Modal(std::function<void(QWidget *)> Responder, int Intervalo = 10) : FResponder(std::move(Responder))
    {
        FTimer.setInterval(Intervalo);
        QObject::connect(&FTimer, &QTimer::timeout, [this] { FResponder(QApplication::activeModalWidget()); });
        FTimer.start();
    }
    void Parar() { FTimer.stop(); }

private:
    std::function<void(QWidget *)> FResponder;
    QTimer FTimer;
};

// Shows a window modally and plays the steps inside its modal loop, one
// every 20 ms, so the loop goes idle between them as it would for a user.
// Returns the modal result. A window still open a second after the last
// step is closed and the test fails.
inline int RunModal(TfBase &Form, std::vector<std::function<void()>> Steps)
{
    size_t next = 0;
    int idleTicks = 0;
    Modal driver([&](QWidget *) {
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
    }, 20);
    const int result = Form.ShowModal();
    driver.Parar();
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
    Modal driver([&](QWidget *Janela) {
        if (auto *m = qobject_cast<QMessageBox *>(Janela)) {
            box.shown = true;
            box.title = m->windowTitle();
            box.text = m->text();
            box.icon = m->icon();
            m->accept();
        }
    }, 20);
    Action();
    driver.Parar();
    return box;
}

} // namespace abdtest
