#include "Inventario.h"

#include "A.h"
#include "ConexaoPropria.h"
#include "IB.h"
#include "Mensagens.h"

#include <QLocale>

#include <memory>

QString TInventario::Estado() const
{
    QString estado;
    switch (ModoDesligamento) {
    case 0:
        estado = QStringLiteral("normal");
        break;
    case 1:
        estado = QStringLiteral("em manutenção");
        break;
    case 2:
        estado = QStringLiteral("fechado (um usuário)");
        break;
    default:
        estado = QStringLiteral("fechado");
        break;
    }
    if (SomenteLeitura)
        estado += QStringLiteral(", só leitura");
    return estado;
}

namespace {

// An attachment of its own to Login's database, with Login's values.
std::unique_ptr<TConexaoPropria> Entrar(TdmA &Modulo, const TLogin &Login)
{
    Modulo.Servidor = Login.Servidor;
    Modulo.BancoDados = Login.BancoDados;
    Modulo.Usuario = QLocale().toUpper(Login.Usuario);
    Modulo.Senha = Login.Senha;
    return std::make_unique<TConexaoPropria>(Modulo, Login.BancoDados);
}

} // namespace

TInventario TInventario::Ler(TdmA &Modulo, const TLogin &Login)
{
    TInventario i;
    try {
        const std::unique_ptr<TConexaoPropria> conexao = Entrar(Modulo, Login);
        TConexaoPropria &c = *conexao;
        // One statement for what the database itself says.
        const QStringList d =
            c.Ler(QStringLiteral(
                      "SELECT RDB$GET_CONTEXT('SYSTEM', 'ENGINE_VERSION'), MON$ODS_MAJOR || '.' || MON$ODS_MINOR, "
                      "MON$PAGE_SIZE, MON$PAGES, MON$SHUTDOWN_MODE, MON$READ_ONLY, MON$DATABASE_NAME, "
                      "CAST(MON$CREATION_DATE AS VARCHAR(64)), "
                      "(SELECT MON$SERVER_PID FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID = CURRENT_CONNECTION) "
                      "FROM MON$DATABASE"))
                .value(0);
        if (d.size() < 9)
            throw EDatabaseError(QStringLiteral("O servidor não disse o que é o banco de dados."));
        i.VersaoServidor = d[0];
        i.Ods = d[1];
        i.TamanhoPagina = d[2].toInt();
        i.Paginas = d[3].toLongLong();
        i.ModoDesligamento = d[4].toInt();
        i.SomenteLeitura = d[5].toInt() != 0;
        i.Arquivo = d[6];
        i.Identidade = TTrava::Identidade(Login.Servidor, i.Arquivo);
        i.Instancia = d[8] + QLatin1Char('|') + d[7] + QLatin1Char('|') + i.Arquivo;
        const QList<QStringList> outros = c.Ler(QStringLiteral(
            "SELECT TRIM(MON$USER) FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID <> CURRENT_CONNECTION "
            "AND COALESCE(MON$SYSTEM_FLAG, 0) = 0 ORDER BY 1"));
        i.Conectados = int32_t(outros.size());
        QStringList usuarios;
        for (const QStringList &o : outros)
            if (!usuarios.contains(o.value(0)))
                usuarios << o.value(0);
        i.Usuarios = usuarios.join(QStringLiteral(", "));
        // A database without CONFIGURAR is a finding, not a failure.
        try {
            const QStringList cfg =
                c.Ler(QStringLiteral("SELECT VERSAO_BANCO_DADOS, PASTA_BACKUP FROM CONFIGURAR WHERE ID = 1")).value(0);
            bool numero = false;
            const int32_t v = cfg.value(0).toInt(&numero);
            if (numero)
                i.Versao = v;
            i.PastaBackup = cfg.value(1);
        } catch (const Exception &) {
        }
    } catch (const std::exception &E) {
        i.Erro = TextoAmigavel(E);
        const auto *e = dynamic_cast<const EIBError *>(&E);
        i.SoOServidor = e && e->IBErrorCode() != isc_network_error && e->IBErrorCode() != isc_login &&
                        e->IBErrorCode() != isc_net_connect_err && e->IBErrorCode() != isc_net_read_err &&
                        e->IBErrorCode() != isc_net_write_err;
    }
    return i;
}

bool TInventario::MesmoBanco(TdmA &Modulo, const TLogin &A, const TLogin &B)
{
    try {
        const std::unique_ptr<TConexaoPropria> a = Entrar(Modulo, A);
        const QStringList eu = a->Ler(QStringLiteral("SELECT MON$ATTACHMENT_ID, CAST(MON$TIMESTAMP AS VARCHAR(64)) "
                                                     "FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID = "
                                                     "CURRENT_CONNECTION"))
                                   .value(0);
        if (eu.size() < 2)
            return false;
        const std::unique_ptr<TConexaoPropria> b = Entrar(Modulo, B);
        return b->Valor(QStringLiteral("SELECT COUNT(*) FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID = %1 AND "
                                       "CAST(MON$TIMESTAMP AS VARCHAR(64)) = '%2'")
                            .arg(eu[0].toLongLong())
                            .arg(QString(eu[1]).remove(QLatin1Char('\''))))
                   .toInt() > 0;
    } catch (const std::exception &) {
        return false;
    }
}

QJsonObject TInventario::ParaJson() const
{
    QJsonObject o;
    if (!Alcancado()) {
        o[QStringLiteral("erro")] = Erro;
        o[QStringLiteral("so_o_servidor")] = SoOServidor;
        return o;
    }
    o[QStringLiteral("versao_firebird")] = VersaoServidor;
    o[QStringLiteral("ods")] = Ods;
    o[QStringLiteral("tamanho_pagina")] = TamanhoPagina;
    o[QStringLiteral("paginas")] = Paginas;
    o[QStringLiteral("bytes")] = Bytes();
    o[QStringLiteral("versao")] = Versao ? QJsonValue(*Versao) : QJsonValue();
    o[QStringLiteral("pasta_backup")] = PastaBackup;
    o[QStringLiteral("conectados")] = Conectados;
    o[QStringLiteral("usuarios")] = Usuarios;
    o[QStringLiteral("modo_desligamento")] = ModoDesligamento;
    o[QStringLiteral("somente_leitura")] = SomenteLeitura;
    o[QStringLiteral("arquivo")] = Arquivo;
    o[QStringLiteral("identidade")] = Identidade;
    o[QStringLiteral("instancia")] = Instancia;
    return o;
}

TInventario TInventario::DeJson(const QJsonObject &O)
{
    TInventario i;
    if (O.contains(QStringLiteral("erro")) || !O.contains(QStringLiteral("arquivo"))) {
        i.Erro = O[QStringLiteral("erro")].toString(QStringLiteral("sem resultado"));
        i.SoOServidor = O[QStringLiteral("so_o_servidor")].toBool();
        return i;
    }
    i.VersaoServidor = O[QStringLiteral("versao_firebird")].toString();
    i.Ods = O[QStringLiteral("ods")].toString();
    i.TamanhoPagina = O[QStringLiteral("tamanho_pagina")].toInt();
    i.Paginas = qint64(O[QStringLiteral("paginas")].toDouble());
    if (O[QStringLiteral("versao")].isDouble())
        i.Versao = O[QStringLiteral("versao")].toInt();
    i.PastaBackup = O[QStringLiteral("pasta_backup")].toString();
    i.Conectados = O[QStringLiteral("conectados")].toInt();
    i.Usuarios = O[QStringLiteral("usuarios")].toString();
    i.ModoDesligamento = O[QStringLiteral("modo_desligamento")].toInt();
    i.SomenteLeitura = O[QStringLiteral("somente_leitura")].toBool();
    i.Arquivo = O[QStringLiteral("arquivo")].toString();
    i.Identidade = O[QStringLiteral("identidade")].toString();
    i.Instancia = O[QStringLiteral("instancia")].toString();
    return i;
}
