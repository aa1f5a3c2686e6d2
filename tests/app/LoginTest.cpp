// The login dialog as a user drives it with the keyboard: OK follows the
// boxes while the dialog idles, Enter and the arrows walk the boxes, the
// default and cancel buttons take Enter and Esc.
#include "FormsTestSupport.h"
#include "Login.h"
#include "TestServer.h"

#include <QLabel>
#include <QLineEdit>
#include <QTest>

using namespace abdtest;

namespace {

void Preencher(TfLogin &f)
{
    f.eServidor->setText("127.0.0.1");
    f.eBancoDados->setText("zorvi");
    f.eUsuario->setText("SYSDBA");
    f.eSenha->setText("vintemoro");
}

void Tecla(TfLogin &f, int Key, Qt::KeyboardModifiers Mods = Qt::NoModifier)
{
    QWidget *target = f.focusWidget() ? f.focusWidget() : &f;
    QTest::keyClick(target, Qt::Key(Key), Mods);
}

auto Foco(TfLogin &f, QWidget *Expected)
{
    return [&f, Expected] {
        EXPECT_EQ(f.focusWidget(), Expected)
            << "focus on " << (f.focusWidget() ? f.focusWidget()->objectName().toStdString() : "nothing")
            << ", expected " << Expected->objectName().toStdString();
    };
}

} // namespace

TEST(Login, LimitsMaskAndAccelerators)
{
    TfLogin f;
    EXPECT_EQ(f.eSenha->echoMode(), QLineEdit::Password);
    EXPECT_EQ(f.lServidor->buddy(), f.eServidor);
    EXPECT_EQ(f.lSenha->buddy(), f.eSenha);
    EXPECT_EQ(f.minimumSize(), f.maximumSize()) << "a dialog frame is not resizable";

    // Longer text than the limit cannot be typed.
    f.show();
    f.eSenha->setFocus();
    QTest::keyClicks(f.eSenha, QString(40, QLatin1Char('x')));
    EXPECT_EQ(f.eSenha->text().size(), 32);
    f.eServidor->clear();
    QTest::keyClicks(f.eServidor, QString(40, QLatin1Char('1')));
    EXPECT_EQ(f.eServidor->text().size(), 31);
}

TEST(Login, DefaultsEnableOkAndEnterInAnyBoxConfirms)
{
    for (const char *box : {"eServidor", "eBancoDados", "eUsuario", "eSenha"}) {
        SCOPED_TRACE(box);
        TfLogin f;
        Preencher(f);
        QLineEdit *e = f.findChild<QLineEdit *>(box);
        const int r = RunModal(f, {
                                      [&] { EXPECT_TRUE(f.focusWidget() == f.eUsuario); },
                                      [&] { e->setFocus(); },
                                      [&] { EXPECT_TRUE(f.bOK->isEnabled()); },
                                      [&] { Tecla(f, Qt::Key_Return); },
                                  });
        EXPECT_EQ(r, mrOk);
        EXPECT_FALSE(f.isVisible());
    }
}

TEST(Login, EmptyBoxDisablesOkAndEnterWalksToCancel)
{
    TfLogin f;
    Preencher(f);
    const int r = RunModal(f, {
                                  [&] { f.eBancoDados->clear(); },
                                  [&] { EXPECT_FALSE(f.bOK->isEnabled()); },
                                  [&] { f.eServidor->setFocus(); },
                                  [&] { Tecla(f, Qt::Key_Return); },
                                  Foco(f, f.eBancoDados),
                                  [&] { Tecla(f, Qt::Key_Enter); },
                                  Foco(f, f.eUsuario),
                                  [&] { Tecla(f, Qt::Key_Return); },
                                  Foco(f, f.eSenha),
                                  [&] { Tecla(f, Qt::Key_Return); },
                                  Foco(f, f.bCancelar),
                                  [&] { Tecla(f, Qt::Key_Return); },
                              });
    EXPECT_EQ(r, mrCancel);
}

TEST(Login, OkFollowsTheBoxesAsTheUserTypes)
{
    TfLogin f;
    Preencher(f);
    const int r = RunModal(f, {
                                  [&] { f.eSenha->setFocus(); },
                                  [&] { f.eSenha->selectAll(); Tecla(f, Qt::Key_Backspace); },
                                  [&] { EXPECT_FALSE(f.bOK->isEnabled()); },
                                  // A disabled OK takes neither Enter nor a click.
                                  [&] { QTest::mouseClick(f.bOK, Qt::LeftButton); },
                                  [&] { EXPECT_TRUE(f.isVisible()); },
                                  // Blanks count as text.
                                  [&] { QTest::keyClicks(f.eSenha, "  "); },
                                  [&] { EXPECT_TRUE(f.bOK->isEnabled()); },
                                  [&] { QTest::mouseClick(f.bOK, Qt::LeftButton); },
                              });
    EXPECT_EQ(r, mrOk);
    EXPECT_EQ(f.eSenha->text(), "  ");
}

TEST(Login, ArrowsWrapAroundTheTabOrder)
{
    TfLogin f;
    Preencher(f);
    RunModal(f, {
                    [&] { f.eServidor->setFocus(); },
                    [&] { Tecla(f, Qt::Key_Up); },
                    Foco(f, f.bCancelar),
                    [&] { f.eSenha->setFocus(); },
                    [&] { Tecla(f, Qt::Key_Down); },
                    Foco(f, f.bOK),
                    [&] { f.eSenha->setFocus(); },
                    [&] { Tecla(f, Qt::Key_Up); },
                    Foco(f, f.eUsuario),
                    [&] { f.eUsuario->clear(); },
                    [&] { f.eSenha->setFocus(); },
                    [&] { Tecla(f, Qt::Key_Down); },
                    Foco(f, f.bCancelar),
                    [&] { f.close(); },
                });
}

TEST(Login, ShiftOrCtrlEnterMovesEvenWithOkEnabled)
{
    TfLogin f;
    Preencher(f);
    const int r = RunModal(f, {
                                  [&] { f.eServidor->setFocus(); },
                                  [&] { EXPECT_TRUE(f.bOK->isEnabled()); },
                                  [&] { Tecla(f, Qt::Key_Return, Qt::ShiftModifier); },
                                  Foco(f, f.eBancoDados),
                                  [&] { Tecla(f, Qt::Key_Return, Qt::ControlModifier); },
                                  Foco(f, f.eUsuario),
                                  [&] { EXPECT_TRUE(f.isVisible()); },
                                  [&] { Tecla(f, Qt::Key_Escape); },
                              });
    EXPECT_EQ(r, mrCancel);
}

TEST(Login, OnlyShiftAndCtrlKeepEnterAndEscFromTheButtons)
{
    {
        // With Shift or Ctrl, Enter is taken by no button, not even a
        // focused one; Alt changes nothing, so Enter in a box presses OK.
        TfLogin f;
        Preencher(f);
        const int r = RunModal(f, {
                                      [&] { f.bOK->setFocus(); },
                                      [&] { Tecla(f, Qt::Key_Return, Qt::ShiftModifier); },
                                      [&] { Tecla(f, Qt::Key_Enter, Qt::ControlModifier); },
                                      [&] { EXPECT_TRUE(f.isVisible()); },
                                      [&] { f.eSenha->setFocus(); },
                                      [&] { Tecla(f, Qt::Key_Return, Qt::AltModifier); },
                                  });
        EXPECT_EQ(r, mrOk);
    }
    {
        TfLogin f;
        Preencher(f);
        EXPECT_EQ(RunModal(f, {[&] { Tecla(f, Qt::Key_Escape, Qt::AltModifier); }}), mrCancel);
    }
    {
        TfLogin f;
        Preencher(f);
        const int r = RunModal(f, {
                                      [&] { Tecla(f, Qt::Key_Escape, Qt::ShiftModifier); },
                                      [&] { EXPECT_TRUE(f.isVisible()); },
                                      [&] { f.close(); },
                                  });
        EXPECT_EQ(r, mrCancel);
    }
}

TEST(Login, CancelByButtonEscOrCloseBox)
{
    {
        TfLogin f;
        Preencher(f);
        EXPECT_EQ(RunModal(f, {[&] { QTest::mouseClick(f.bCancelar, Qt::LeftButton); }}), mrCancel);
    }
    {
        TfLogin f;
        Preencher(f);
        EXPECT_EQ(RunModal(f, {[&] { Tecla(f, Qt::Key_Escape); }}), mrCancel);
    }
    {
        TfLogin f;
        Preencher(f);
        EXPECT_EQ(RunModal(f, {[&] { f.close(); }}), mrCancel);
        EXPECT_EQ(f.ModalResult(), mrCancel);
        EXPECT_FALSE(f.isVisible());
    }
    {
        // Hidden by other means, the dialog ends without a result of its
        // own: it counts as cancelled.
        TfLogin f;
        Preencher(f);
        EXPECT_EQ(RunModal(f, {[&] { f.hide(); }}), mrCancel);
        EXPECT_EQ(f.ModalResult(), mrCancel);
    }
    {
        // Enter on the focused Cancelar button presses it, not OK.
        TfLogin f;
        Preencher(f);
        EXPECT_EQ(RunModal(f, {[&] { f.bCancelar->setFocus(); }, [&] { Tecla(f, Qt::Key_Return); }}),
                  mrCancel);
    }
}

// A result set while the window is being shown, before the modal loop has
// started, ends the loop as soon as it runs instead of leaving it waiting on
// a hidden window.
TEST(Login, AResultSetWhileShowingEndsTheModalDisplay)
{
    struct Logo : TfLogin {
        void showEvent(QShowEvent *Event) override
        {
            TfLogin::showEvent(Event);
            SetModalResult(mrOk);
        }
    } f;
    bool fechou = false;
    QTimer socorro;
    socorro.setSingleShot(true);
    QObject::connect(&socorro, &QTimer::timeout, [&] {
        // Nothing on the window can end a loop that waits on it hidden.
        fechou = true;
        QCoreApplication::exit(0);
    });
    socorro.start(3000);
    EXPECT_EQ(f.ShowModal(), mrOk);
    EXPECT_FALSE(fechou) << "the modal loop waited on a hidden window";
    EXPECT_FALSE(f.isVisible());
}

TEST(Login, ShowingAgainStartsWithoutAResult)
{
    TfLogin f;
    Preencher(f);
    EXPECT_EQ(RunModal(f, {[&] { Tecla(f, Qt::Key_Escape); }}), mrCancel);
    EXPECT_EQ(RunModal(f, {[&] { Tecla(f, Qt::Key_Return); }}), mrOk);
}

TEST(Login, AcceleratorsPutTheFocusIntoTheirBoxes)
{
    TfLogin f;
    Preencher(f);
    RunModal(f, {
                    [&] {
                        f.activateWindow();
                        EXPECT_TRUE(QTest::qWaitForWindowActive(&f));
                        QTest::keyClick(&f, Qt::Key_V, Qt::AltModifier);
                    },
                    Foco(f, f.eServidor),
                    [&] { QTest::keyClick(&f, Qt::Key_S, Qt::AltModifier); },
                    Foco(f, f.eSenha),
                    [&] { QTest::keyClick(&f, Qt::Key_B, Qt::AltModifier); },
                    Foco(f, f.eBancoDados),
                    [&] { QTest::keyClick(&f, Qt::Key_U, Qt::AltModifier); },
                    Foco(f, f.eUsuario),
                    [&] { f.close(); },
                });
}
