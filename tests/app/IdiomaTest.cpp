// Portuguese where the tool does not write the text itself: Qt's own menus
// and buttons, and the dates of the progress panes on a system without a
// locale.
#include "Idioma.h"
#include "TestServer.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTranslator>

#include <memory>

#include <gtest/gtest.h>

using namespace abdtest;

namespace {

QStringList Textos(QMenu *Menu)
{
    std::unique_ptr<QMenu> dono(Menu);
    QStringList textos;
    for (QAction *a : Menu->actions())
        if (!a->isSeparator())
            textos << a->text().section(QLatin1Char('\t'), 0, 0).remove(QLatin1Char('&'));
    return textos;
}

QString Cancelar()
{
    QDialogButtonBox caixa(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    return caixa.button(QDialogButtonBox::Cancel)->text().remove(QLatin1Char('&'));
}

} // namespace

TEST(Portuguese, QtsOwnMenusAndButtons)
{
    ASSERT_EQ(Cancelar(), "Cancel") << "nothing loaded the translation before";

    ASSERT_TRUE(CarregarTraducaoDoQt(*qApp)) << "qt6-translations-l10n installed?";
    EXPECT_EQ(Cancelar(), "Cancelar");
    QLineEdit edit;
    edit.setText("texto");
    const QStringList menuEdit = Textos(edit.createStandardContextMenu());
    EXPECT_TRUE(menuEdit.contains("Copiar")) << menuEdit.join(", ").toStdString();
    EXPECT_TRUE(menuEdit.contains("Colar")) << menuEdit.join(", ").toStdString();
    QPlainTextEdit painel;
    painel.setReadOnly(true);
    painel.setPlainText("linha");
    const QStringList menuPainel = Textos(painel.createStandardContextMenu());
    EXPECT_TRUE(menuPainel.contains("Copiar")) << menuPainel.join(", ").toStdString();
    EXPECT_FALSE(menuPainel.contains("Copy")) << menuPainel.join(", ").toStdString();

    // Once is enough, however often it is asked.
    EXPECT_TRUE(CarregarTraducaoDoQt(*qApp));
    EXPECT_EQ(qApp->findChildren<QTranslator *>().size(), 1);
}

TEST(Portuguese, DatesFollowTheSystemLocaleOrBrazilWhereThereIsNone)
{
    struct Caso {
        const char *nome;
        QStringList ambiente;
        QString texto;
    };
    const QList<Caso> casos{
        {"nothing set", {}, "09/12/2026 14:05:03|:"},
        {"LANG=C", {"LANG=C"}, "09/12/2026 14:05:03|:"},
        {"LANG=C.UTF-8", {"LANG=C.UTF-8"}, "09/12/2026 14:05:03|:"},
        {"LC_ALL=POSIX", {"LANG=de_DE.UTF-8", "LC_ALL=POSIX"}, "09/12/2026 14:05:03|:"},
        {"LANG=pt_BR.UTF-8", {"LANG=pt_BR.UTF-8"}, "09/12/2026 14:05:03|:"},
        {"LANG=de_DE.UTF-8", {"LANG=de_DE.UTF-8"}, "09.12.2026 14:05:03|:"},
    };
    for (const Caso &c : casos) {
        SCOPED_TRACE(c.nome);
        QProcessEnvironment ambiente = QProcessEnvironment::systemEnvironment();
        for (const QString &nome : ambiente.keys())
            if (nome == "LANG" || nome == "LANGUAGE" || nome.startsWith("LC_"))
                ambiente.remove(nome);
        for (const QString &par : c.ambiente)
            ambiente.insert(par.section('=', 0, 0), par.section('=', 1));
        QProcess programa;
        programa.setProcessEnvironment(ambiente);
        programa.start(QStringLiteral(ABD_TEXTO_DE_DATA), QStringList{});
        ASSERT_TRUE(programa.waitForFinished(30000));
        EXPECT_EQ(programa.exitCode(), 0);
        EXPECT_EQ(QString::fromUtf8(programa.readAllStandardOutput()).trimmed(), c.texto);
    }
}
