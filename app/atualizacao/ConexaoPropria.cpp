#include "ConexaoPropria.h"

#include "A.h"
#include "IBSQL.h"

TConexaoPropria::TConexaoPropria(const TdmA &Modulo, const QString &Banco)
{
    FBanco.SetServerType(Modulo.dbAtualizar->ServerType());
    FBanco.SetLoginPrompt(false);
    FBanco.SetParams({QStringLiteral("user_name=") + Modulo.Usuario, QStringLiteral("password=") + Modulo.Senha,
                      QStringLiteral("lc_ctype=WIN1252")});
    FBanco.SetDatabaseName(Modulo.Servidor + QLatin1Char(':') + Banco);
    FTransacao.SetDefaultDatabase(&FBanco);
    FTransacao.SetDefaultAction(TIBTransactionAction::TARollback);
    FTransacao.SetParams({QStringLiteral("read"), QStringLiteral("concurrency"), QStringLiteral("nowait")});
    FBanco.Open();
}

TConexaoPropria::~TConexaoPropria()
{
    // The first error is the caller's; ending quietly is all that is left.
    IgnoringErrors([this] {
        if (FTransacao.Active())
            FTransacao.Rollback();
    });
    try {
        FBanco.Close();
    } catch (...) {
        FBanco.ForceClose();
    }
}

QList<QStringList> TConexaoPropria::Ler(const QString &Select)
{
    if (!FTransacao.Active())
        FTransacao.StartTransaction();
    TIBSQL sql;
    sql.SetDatabase(&FBanco);
    sql.SetTransaction(&FTransacao);
    sql.SetSQL({Select});
    sql.ExecQuery();
    QList<QStringList> linhas;
    while (!sql.Eof()) {
        QStringList linha;
        for (int i = 0; i < sql.FieldCount(); ++i)
            linha << sql.Fields(i).AsString();
        linhas << linha;
        sql.Next();
    }
    sql.Close();
    return linhas;
}

QString TConexaoPropria::Valor(const QString &Select)
{
    const QList<QStringList> linhas = Ler(Select);
    return linhas.isEmpty() || linhas[0].isEmpty() ? QString() : linhas[0][0];
}

void TConexaoPropria::Apagar()
{
    FTransacao.SetActive(false);
    FBanco.DropDatabase();
}

void TConexaoPropria::Renovar()
{
    if (FTransacao.Active())
        FTransacao.Rollback();
}
