// The client library binding and the error model: the real Firebird client
// as the layer sees it, and stand-in libraries for what it cannot show.
#include "IB.h"
#include "IBDatabase.h"
#include "IBIntf.h"
#include "DbTestSupport.h"

#include <QLibrary>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>

using namespace abdtest;

namespace {

template <typename E, typename F>
E Catch(F &&f)
{
    try {
        f();
    } catch (const E &e) {
        return e;
    }
    ADD_FAILURE() << "nothing raised";
    return E(0, 0, QString());
}

} // namespace

// Firebird 3's client answers major 6, minor 3 (its InterBase-compatible
// version; the "Firebird 3.0" is only in the version text).
TEST(IBIntf, RealClientIsVersion63WithLaterFunctionsStubbed)
{
    QString name = QStringLiteral("ibserver");
    TIBLibraryRef lib = LookupServerType(name);
    EXPECT_EQ(name, "IBServer");
    EXPECT_EQ(lib->LibraryName(), "libfbclient.so.2");
    lib->CheckIBLoaded();
    EXPECT_EQ(lib->ClientVersion(), 63000);

    ISC_STATUS_ARRAY status;
    const EIBClientError e70 = Catch<EIBClientError>([&] { lib->isc_blob_gen_bpb2(status, nullptr, nullptr, 0, nullptr, nullptr); });
    EXPECT_EQ(e70.Message(), QStringLiteral("isc_blob_gen_bpb2  é uma função para o InterBase 7.0. Atualize para "
                                            "InterBase 7.0 para usar esta funcionalidade."));
    EXPECT_EQ(e70.SQLCode(), 0);
    const EIBClientError e71 = Catch<EIBClientError>([&] { lib->isc_start_savepoint(status, nullptr, "S"); });
    EXPECT_TRUE(e71.Message().startsWith(QStringLiteral("isc_start_savepoint  é uma função para o InterBase 7.1.")));
    const EIBClientError e80 =
        Catch<EIBClientError>([&] { lib->isc_dsql_batch_execute_immed(status, nullptr, nullptr, 3, 0, nullptr, nullptr); });
    EXPECT_EQ(e80.Message(), "isc_dsql_batch_execute_immed is an InterBase 2007 function. Please upgrade to "
                             "InterBase 2007 to use this functonality");
    // Functions Firebird does have go through.
    char buffer[64] = {};
    lib->isc_get_client_version(buffer);
    // Debian 12's client is Firebird 3's, Debian 13's Firebird 4's.
    EXPECT_TRUE(QByteArray(buffer).contains("Firebird 3.0") || QByteArray(buffer).contains("Firebird 4.0")) << buffer;
}

TEST(IBIntf, ServerTypesAreSharedAndLookedUpIgnoringCase)
{
    TIBDatabase a;
    TIBDatabase b;
    a.SetServerType("IBSERVER");
    b.SetServerType("IBServer");
    EXPECT_EQ(a.ServerType(), "IBServer");
    EXPECT_EQ(&a.GDSLibrary(), &b.GDSLibrary());

    FakeServerType("v63");
    const EIBClientError e = Catch<EIBClientError>([&] { a.SetServerType("Oracle"); });
    EXPECT_EQ(e.SQLCode(), 123);
    EXPECT_TRUE(e.Message().startsWith("Invalid library type assigned.  Valid strings are IBServer Fake_"))
        << e.Message().toStdString();
    EXPECT_EQ(a.ServerType(), "IBServer");
    EXPECT_EQ(&a.GDSLibrary(), &b.GDSLibrary());
}

TEST(IBIntf, MissingLibraryFailsOnEveryTry)
{
    RegisterServerType("Missing", std::make_shared<TIBServerLibrary>("libfbclient-nao-existe.so.9"));
    for (int attempt = 0; attempt < 2; ++attempt) {
        TIBDatabase db;
        const EIBClientError e = Catch<EIBClientError>([&] { db.SetServerType("Missing"); });
        EXPECT_EQ(e.SQLCode(), 1);
        EXPECT_EQ(e.Message(), "InterBase library libfbclient-nao-existe.so.9 not found in the path. Please install "
                               "InterBase to use this functionality");
        EXPECT_EQ(db.ServerType(), "");
    }
}

TEST(IBIntf, RequiredEntryPointMissingIsASystemError)
{
    TIBServerLibrary lib(FakePath("missing"));
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            lib.CheckIBLoaded();
            ADD_FAILURE() << "loaded without isc_dsql_fetch";
        } catch (const EOSError &e) {
            EXPECT_TRUE(e.Message().startsWith("Erro de sistema. Código: ")) << e.Message().toStdString();
            EXPECT_TRUE(e.Message().contains("isc_dsql_fetch")) << e.Message().toStdString();
        }
        EXPECT_FALSE(lib.Loaded());
    }
}

TEST(IBIntf, OldClientVersionsGetStubs)
{
    TIBServerLibrary v5(FakePath("v5"));
    EXPECT_DOUBLE_EQ(v5.GetIBClientVersion(), 5.0);
    ISC_STATUS_ARRAY status;
    isc_svc_handle svc = 0;
    const EIBClientError e = Catch<EIBClientError>([&] { v5.isc_service_attach(status, 0, "x", &svc, 0, nullptr); });
    EXPECT_EQ(e.SQLCode(), 3);
    EXPECT_EQ(e.Message(), QStringLiteral("isc_service_attach é uma função do InterBase 6. Favor atualizar InterBase "
                                          "6 para usar esta funcionalidade"));
    const EIBClientError cv = Catch<EIBClientError>([&] { v5.isc_get_client_major_version(); });
    EXPECT_TRUE(cv.Message().startsWith(QStringLiteral("isc_get_client_major_version  é uma função para o InterBase 7.0")));

    TIBServerLibrary v63(FakePath("v63"));
    EXPECT_DOUBLE_EQ(v63.GetIBClientVersion(), 6.3);
    EXPECT_EQ(v63.ClientVersion(), 63000);
    EXPECT_THROW(v63.isc_array_gen_sdl2(status, nullptr, nullptr, nullptr, nullptr), EIBClientError);
    EXPECT_THROW(v63.isc_rollback_savepoint(status, nullptr, "S", 0), EIBClientError);
    EXPECT_THROW(v63.isc_dsql_batch_execute(status, nullptr, nullptr, 3, nullptr, 0, nullptr, nullptr), EIBClientError);
    EXPECT_NO_THROW(v63.isc_service_detach(status, &svc));
}

TEST(IBErrors, StatusVectorInterpretation)
{
    TIBServerLibrary lib(FakePath("v63"));
    lib.CheckIBLoaded();
    auto setSqlCode = reinterpret_cast<void (*)(int32_t)>(FakeFunction("fake_set_sqlcode"));
    ASSERT_NE(setSqlCode, nullptr);

    ISC_STATUS *sv = ThreadStatusVector();
    const auto fill = [&](std::initializer_list<ISC_STATUS> words) {
        std::fill(sv, sv + ISC_STATUS_LENGTH, 0);
        std::copy(words.begin(), words.end(), sv);
    };
    const char *first = "primeira linha";
    const char *second = "segunda linha.";
    const char *withBreak = "termina em quebra\n";

    setSqlCode(-902);
    fill({isc_arg_gds, 335544344, isc_arg_cstring, ISC_STATUS(strlen(first)), ISC_STATUS(first), isc_arg_string,
          ISC_STATUS(second), isc_arg_end});
    try {
        RaiseStatusError(lib);
    } catch (const EIBInterBaseError &e) {
        EXPECT_EQ(e.Message(), "erro 335544344\r\nprimeira linha\r\nsegunda linha");
        EXPECT_EQ(e.SQLCode(), -902);
        EXPECT_EQ(e.IBErrorCode(), 335544344);
    }

    // A line ending in a line feed takes the next one without a separator;
    // a period inside the text stays.
    fill({isc_arg_string, ISC_STATUS(withBreak), isc_arg_string, ISC_STATUS("a.b."), isc_arg_end});
    EXPECT_EQ(StatusErrorText(lib), "termina em quebra\na.b");

    setSqlCode(-551);
    fill({isc_arg_gds, 335544352, isc_arg_end});
    EXPECT_THROW(RaiseStatusError(lib), EIBInterBaseRoleError);

    setSqlCode(-902);
    fill({isc_arg_end});
    try {
        RaiseStatusError(lib);
    } catch (const EIBInterBaseError &e) {
        EXPECT_EQ(e.Message(), "");
    }
}

TEST(IBErrors, StatusVectorContainsWalksTheClusters)
{
    const ISC_STATUS v1[ISC_STATUS_LENGTH] = {isc_arg_gds, 1, isc_arg_cstring, 335544741, 0, isc_arg_number,
                                              335544726, isc_arg_end};
    EXPECT_TRUE(StatusVectorContains(v1, {335544726}));
    // The tag-3 cluster is three words: its length is not a code.
    EXPECT_FALSE(StatusVectorContains(v1, {335544741}));
    const ISC_STATUS v2[ISC_STATUS_LENGTH] = {isc_arg_gds, 335544741, isc_arg_end};
    EXPECT_TRUE(StatusVectorContains(v2, {1, 335544741}));
    const ISC_STATUS v3[ISC_STATUS_LENGTH] = {isc_arg_interpreted, 335544741, isc_arg_end};
    EXPECT_FALSE(StatusVectorContains(v3, {335544741}));
    // A vector without an end tag stops at its last word.
    ISC_STATUS v4[ISC_STATUS_LENGTH];
    std::fill(std::begin(v4), std::end(v4), isc_arg_gds);
    EXPECT_FALSE(StatusVectorContains(v4, {7}));
}

namespace {

// The C library's character classes take an unsigned char's value or EOF;
// anything else is undefined. The layer's calls come here and are counted
// when they go outside that.
std::atomic<int> OutOfDomain{0};

} // namespace

extern "C" int isxdigit(int C) noexcept
{
    if (C != EOF && (C < 0 || C > 255))
        ++OutOfDomain;
    return (C >= '0' && C <= '9') || (C >= 'a' && C <= 'f') || (C >= 'A' && C <= 'F');
}

TEST(IBErrors, IntegersFromTextOfAnyCharacters)
{
    EXPECT_EQ(StrToInt("0x7fffffff"), 2147483647);
    EXPECT_EQ(StrToInt("-$10"), -16);
    // Digits of other scripts, and characters far above Latin-1 where a hex
    // digit may stand, as service replies and backup lines can carry them.
    for (const QString &bad : {QStringLiteral("$\u0100"), QStringLiteral("$1\uff21"), QStringLiteral("0x\u0661"),
                               QStringLiteral("\u0661\u0662"), QStringLiteral("$\U0001F600")}) {
        EXPECT_THROW(StrToInt(bad), EConvertError) << bad.toStdString();
    }
    EXPECT_EQ(OutOfDomain, 0) << "a character class asked about a value it is not defined for";
}

TEST(IBErrors, CatalogAndClientErrors)
{
    EXPECT_EQ(IBClientErrorMessage(55), "Erro na análise do SQL:\r\n\r\n%s");
    try {
        RaiseClientError(ibxeDatabaseNameMissing);
    } catch (const EIBClientError &e) {
        EXPECT_EQ(e.SQLCode(), 17);
        EXPECT_EQ(e.IBErrorCode(), 0);
        EXPECT_EQ(e.Message(), "Faltando nome do Banco de Dados");
        EXPECT_STREQ(e.ClassName(), "EIBClientError");
    }
    try {
        RaiseClientError(ibxeStringTooLarge, {300, 255});
    } catch (const EIBClientError &e) {
        EXPECT_EQ(e.Message(), "Tentando armazenar uma string de comprimento 300 dentro de uma campo que pode "
                               "somente conter 255");
    }
    EXPECT_EQ(StrToInt(" 42"), 42);
    EXPECT_EQ(StrToInt("-7"), -7);
    EXPECT_EQ(StrToInt("$1F"), 31);
    for (const char *bad : {"", "4 2", "42 ", "x", "99999999999"}) {
        try {
            StrToInt(bad);
            ADD_FAILURE() << bad;
        } catch (const EConvertError &e) {
            EXPECT_EQ(e.Message(), QStringLiteral("''%1'' is not a valid integer value").arg(bad));
        }
    }
}
