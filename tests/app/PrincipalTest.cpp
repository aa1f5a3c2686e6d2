// The main window at start, its context-menu toggles and button, the
// application's error box and the last-chance text.
#include "Banco.h"
#include "Exceptions.h"
#include "FormsTestSupport.h"
#include "Principal.h"
#include "TestServer.h"

#include <QMenu>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QStatusBar>
#include <QTest>

using namespace abdtest;

TEST(Principal, StateAtStart)
{
    TfPrincipal f;
    f.show();
    EXPECT_TRUE(f.miBackup->isChecked());
    EXPECT_TRUE(f.miCompactar->isChecked());
    EXPECT_EQ(f.mAtualizar->toPlainText().split('\n'), TfPrincipal::InstrucoesIniciais());
    EXPECT_TRUE(TfPrincipal::InstrucoesIniciais()[5].endsWith("sysdba); "));
    EXPECT_EQ(f.mBackup->toPlainText(), QStringLiteral("Backup versão anterior."));
    EXPECT_EQ(f.mCompactarBackup->toPlainText(), QStringLiteral("Compactar: Backup versão atual."));
    EXPECT_EQ(f.mCompactarRestaurar->toPlainText(), QStringLiteral("Compactar: Restaurar versão atual."));
    for (QPlainTextEdit *m : {f.mAtualizar, f.mBackup, f.mCompactarBackup, f.mCompactarRestaurar})
        EXPECT_TRUE(m->isReadOnly());
    EXPECT_TRUE(f.StatusBar1->currentMessage().isEmpty());
    EXPECT_EQ(f.focusWidget(), f.bAtualizar);
    EXPECT_EQ(f.mAtualizar->height(), 186);
    EXPECT_EQ(f.mBackup->height(), 65);
    EXPECT_EQ(f.StatusBar1->height(), 19);
}

TEST(Principal, ContextMenuItemsFlipThemselves)
{
    TfPrincipal f;
    EXPECT_EQ(f.pmBase->actions(), (QList<QAction *>{f.miBackup, f.miCompactar, f.miRegistros}));
    f.miBackup->trigger();
    EXPECT_FALSE(f.miBackup->isChecked());
    EXPECT_TRUE(f.miCompactar->isChecked());
    f.miCompactar->trigger();
    f.miBackup->trigger();
    EXPECT_TRUE(f.miBackup->isChecked());
    EXPECT_FALSE(f.miCompactar->isChecked());
}

TEST(Principal, ASplitterResizesThePaneAboveItAndTheLastPaneTakesTheRest)
{
    TfPrincipal f;
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    QSplitterHandle *h = f.Splitters->handle(2); // below mBackup
    const auto arrastar = [h](int Dy) {
        QTest::mousePress(h, Qt::LeftButton, {}, QPoint(10, 1));
        QTest::mouseMove(h, QPoint(10, 1 + Dy));
        QTest::mouseRelease(h, Qt::LeftButton, {}, QPoint(10, 1 + Dy));
    };
    const int total = 186 + 3 * 65;
    arrastar(20);
    QList<int> a = f.Splitters->sizes();
    EXPECT_NEAR(a[1], 85, 2) << "the pane above the splitter grows";
    EXPECT_EQ(a[0], 186);
    EXPECT_EQ(a[2], 65) << "the pane below keeps its height";
    EXPECT_EQ(a[3], total - a[0] - a[1] - a[2]) << "the last pane gives the height";
    arrastar(-40);
    a = f.Splitters->sizes();
    EXPECT_NEAR(a[1], 45, 3);
    EXPECT_EQ(a[2], 65);
    EXPECT_EQ(a[3], total - a[0] - a[1] - a[2]);
    // A shorter window takes the height from the last pane only.
    const QList<int> antes = f.Splitters->sizes();
    f.resize(f.width(), f.height() - 30);
    QTest::qWait(20);
    a = f.Splitters->sizes();
    EXPECT_EQ(a.mid(0, 3), antes.mid(0, 3));
    EXPECT_EQ(a[3], antes[3] - 30);
}

TEST(Principal, ButtonFollowsItsActionAndTakesEnter)
{
    TfPrincipal f;
    f.show();
    int runs = 0;
    f.aAtualizar->SetOnExecute([&](QObject *) { ++runs; });
    QTest::keyClick(f.bAtualizar, Qt::Key_Return);
    EXPECT_EQ(runs, 1);
    QTest::mouseClick(f.bAtualizar, Qt::LeftButton);
    EXPECT_EQ(runs, 2);
    f.aAtualizar->setVisible(false);
    EXPECT_FALSE(f.bAtualizar->isVisible());
    f.aAtualizar->setText("Outro");
    EXPECT_EQ(f.bAtualizar->text(), "Outro");
}

TEST(Principal, AnOrdinaryWindowThatOnlyItsCloseBoxCloses)
{
    TfPrincipal f;
    EXPECT_EQ(f.windowType(), Qt::Window);
    EXPECT_FALSE(f.windowFlags() & Qt::MSWindowsFixedSizeDialogHint);
    EXPECT_NE(f.minimumSize(), f.maximumSize()) << "the main window is sizeable";
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    EXPECT_FALSE(f.isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    // Esc, and Enter with a modifier, on the button or on the window itself.
    for (QWidget *w : {static_cast<QWidget *>(f.bAtualizar), static_cast<QWidget *>(&f)}) {
        QTest::keyClick(w, Qt::Key_Escape);
        QTest::keyClick(w, Qt::Key_Escape, Qt::ShiftModifier);
        QTest::keyClick(w, Qt::Key_Return, Qt::ShiftModifier);
    }
    EXPECT_TRUE(f.isVisible());

    // Closing it ends the application's event loop.
    QTimer::singleShot(0, &f, [&f] { f.close(); });
    QTimer::singleShot(5000, qApp, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QApplication::exec(), 0) << "the application went on after its main window closed";
    EXPECT_FALSE(f.isVisible());
}

TEST(ErrorBox, PeriodIsAddedOnlyAfterCharactersAboveIt)
{
    EXPECT_EQ(TextoDoErro("Falhou"), "Falhou.");
    EXPECT_EQ(TextoDoErro("Falhou."), "Falhou.");
    EXPECT_EQ(TextoDoErro("Erro no backup: 3"), "Erro no backup: 3.");
    EXPECT_EQ(TextoDoErro("(SQLCODE -902)"), "(SQLCODE -902)");
    EXPECT_EQ(TextoDoErro("termina em branco "), "termina em branco ");
    EXPECT_EQ(TextoDoErro("linha\r\n"), "linha\r\n");
    EXPECT_EQ(TextoDoErro("vírgula,"), "vírgula,");
    EXPECT_EQ(TextoDoErro("barra/"), "barra/.");
    EXPECT_EQ(TextoDoErro(QStringLiteral("não")), QStringLiteral("não."));
    EXPECT_EQ(TextoDoErro(""), "");
}

TEST(ErrorBox, HandlerErrorIsShownAndTheWindowLivesOn)
{
    QCoreApplication::setApplicationName("Atualizar Banco Dados");
    TfPrincipal f;
    f.show();
    f.aAtualizar->SetOnExecute([](QObject *) { throw EDatabaseError("Conexão recusada"); });
    const CapturedBox box = CaptureMessageBox([&] { QTest::mouseClick(f.bAtualizar, Qt::LeftButton); });
    ASSERT_TRUE(box.shown);
    EXPECT_EQ(box.title, "Atualizar Banco Dados");
    EXPECT_EQ(box.text, QStringLiteral("Conexão recusada."));
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_TRUE(f.isVisible());
    EXPECT_TRUE(f.bAtualizar->isVisible());

    // Run directly, the action's error reaches the caller.
    EXPECT_THROW(f.aAtualizar->Execute(), EDatabaseError);
}

TEST(ErrorBox, LastChanceText)
{
    const EReadError e("Error reading dbAtualizar.ServerType: Unable to load libfbclient.so.2");
    const QString text = Banco::TextoUltimaChance(e);
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    EXPECT_TRUE(text.startsWith(QStringLiteral("Exceção EReadError no modulo %1 at ").arg(program)))
        << text.toStdString();
    EXPECT_TRUE(text.endsWith(".\r\nError reading dbAtualizar.ServerType: Unable to load libfbclient.so.2.\r\n"))
        << text.toStdString();

    const EConvertError already("já termina em ponto.");
    EXPECT_TRUE(Banco::TextoUltimaChance(already).endsWith(QStringLiteral("\r\njá termina em ponto.\r\n")));
    const EOSError empty("");
    EXPECT_TRUE(Banco::TextoUltimaChance(empty).endsWith(".\r\n\r\n"));
}
