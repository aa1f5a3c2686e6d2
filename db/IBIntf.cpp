#include "IBIntf.h"

#include "IB.h"

#include <QLibrary>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <vector>

#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif

void RaiseStub(TStubKind Kind, const char *Name, const IGDSLibrary *Library)
{
    const QString name = QString::fromLatin1(Name);
    switch (Kind) {
    case TStubKind::IB60:
        RaiseClientError(ibxeIB60feature, {name});
    case TStubKind::IB70:
        throw EIBClientError(0, 0,
                             QStringLiteral("%1 é uma função para o InterBase 7.0. Atualize para InterBase 7.0 "
                                            "para usar esta funcionalidade.")
                                 .arg(name + QLatin1Char(' ')));
    case TStubKind::IB71:
        throw EIBClientError(0, 0,
                             QStringLiteral("%1 é uma função para o InterBase 7.1. Atualize para InterBase 7.1 "
                                            "para usar esta funcionalidade.")
                                 .arg(name + QLatin1Char(' ')));
    case TStubKind::IB2007:
        throw EIBClientError(0, 0,
                             QStringLiteral("%1 is an InterBase 2007 function. Please upgrade to InterBase 2007 to "
                                            "use this functonality")
                                 .arg(name));
    case TStubKind::None:
    case TStubKind::NotLoaded:
        break;
    }
    // A call through a library that is not loaded.
    RaiseClientError(ibxeInterBaseMissing, {Library ? Library->LibraryName() : QString()});
}

IGDSLibrary::IGDSLibrary()
{
    ResetEntries();
}

IGDSLibrary::~IGDSLibrary() = default;

void IGDSLibrary::ResetEntries()
{
#define ABD_RESET_ENTRY(N, Type, Group)                                                                 \
    F##N.Proc = nullptr;                                                                                \
    F##N.Stub = TStubKind::NotLoaded;                                                                   \
    F##N.Name = #N;                                                                                  \
    F##N.Owner = this;
    ABD_GDS_FUNCTIONS(ABD_RESET_ENTRY)
#undef ABD_RESET_ENTRY
}

bool IGDSLibrary::Loaded() const
{
    return FIBLibrary != nullptr;
}

namespace {

enum class TGroup { R, OPT, V6, CV, V70, V71, V80 };

struct TBinding {
    const char *Name;
    TGroup Group;
    void **Proc;
    TStubKind *Stub;
};

} // namespace

void IGDSLibrary::LoadIBLibrary()
{
    auto library = std::make_unique<QLibrary>(LibraryName());
    // A bare file name: the dynamic loader's own search path applies.
    library->setLoadHints(QLibrary::ResolveAllSymbolsHint);
    if (!library->load())
        return;

    std::vector<TBinding> bindings;
#define ABD_BIND_ENTRY(N, Type, Group)                                                                  \
    bindings.push_back({#N, TGroup::Group, reinterpret_cast<void **>(&F##N.Proc), &F##N.Stub});
    ABD_GDS_FUNCTIONS(ABD_BIND_ENTRY)
#undef ABD_BIND_ENTRY

    const auto resolve = [&](const char *name) -> void * {
        return reinterpret_cast<void *>(library->resolve(name));
    };
    const auto require = [&](const TBinding &b) {
        void *p = resolve(b.Name);
        if (!p) {
            // The loader's own wording for a symbol it cannot find.
            const QString reason = QStringLiteral("%1: undefined symbol: %2")
                                       .arg(library->fileName(), QString::fromLatin1(b.Name));
            library->unload();
            ResetEntries();
            throw EOSError(QStringLiteral("Erro de sistema. Código: %1.\r\n%2%3").arg(ENOSYS).arg(reason, QString()));
        }
        *b.Proc = p;
        *b.Stub = TStubKind::None;
    };
    const auto stub = [](const TBinding &b, TStubKind kind) {
        *b.Proc = nullptr;
        *b.Stub = kind;
    };
    const auto each = [&](TGroup group, auto action) {
        for (const TBinding &b : bindings)
            if (b.Group == group)
                action(b);
    };

    each(TGroup::R, require);

    int32_t version;
    if (void *p = resolve("isc_rollback_retaining")) {
        *reinterpret_cast<void **>(&Fisc_rollback_retaining.Proc) = p;
        Fisc_rollback_retaining.Stub = TStubKind::None;
        version = 60000;
        each(TGroup::V6, require);
    } else {
        version = 50000;
        for (const TBinding &b : bindings)
            if (b.Group == TGroup::V6 || std::strcmp(b.Name, "isc_rollback_retaining") == 0)
                stub(b, TStubKind::IB60);
    }

    if (void *p = resolve("isc_get_client_version")) {
        *reinterpret_cast<void **>(&Fisc_get_client_version.Proc) = p;
        Fisc_get_client_version.Stub = TStubKind::None;
        each(TGroup::CV, require);
        const int major = Fisc_get_client_major_version.Proc();
        const int minor = Fisc_get_client_minor_version.Proc();
        version = major * 10000 + minor * 1000;
        char text[256] = {};
        Fisc_get_client_version.Proc(text);
        static const QRegularExpression release(QStringLiteral("Firebird (\\d+)\\."));
        const QRegularExpressionMatch m = release.match(QString::fromLatin1(text, qstrnlen(text, sizeof text - 1)));
        FFirebirdVersion = m.hasMatch() ? m.captured(1).toInt() : 0;
    } else {
        for (const TBinding &b : bindings)
            if (b.Group == TGroup::CV || std::strcmp(b.Name, "isc_get_client_version") == 0)
                stub(b, TStubKind::IB70);
    }

    if (version >= 70000) {
        each(TGroup::V70, require);
        if (version >= 71000)
            each(TGroup::V71, require);
        else
            each(TGroup::V71, [&](const TBinding &b) { stub(b, TStubKind::IB71); });
        if (version >= 80000)
            each(TGroup::V80, require);
        else
            each(TGroup::V80, [&](const TBinding &b) { stub(b, TStubKind::IB2007); });
    } else {
        each(TGroup::V70, [&](const TBinding &b) { stub(b, TStubKind::IB70); });
        each(TGroup::V71, [&](const TBinding &b) { stub(b, TStubKind::IB71); });
        each(TGroup::V80, [&](const TBinding &b) { stub(b, TStubKind::IB2007); });
    }

    FIBClientVersion = version;
    FIBLibrary = std::move(library);
}

void IGDSLibrary::FreeIBLibrary()
{
    if (FIBLibrary) {
        FIBLibrary->unload();
        FIBLibrary.reset();
    }
    ResetEntries();
}

bool IGDSLibrary::TryIBLoad()
{
    if (!Loaded())
        LoadIBLibrary();
    return Loaded();
}

void IGDSLibrary::CheckIBLoaded()
{
    if (!TryIBLoad())
        RaiseClientError(ibxeInterBaseMissing, {LibraryName()});
}

double IGDSLibrary::GetIBClientVersion()
{
    CheckIBLoaded();
    return FIBClientVersion / 10000.0;
}

int32_t IGDSLibrary::ClientVersion()
{
    CheckIBLoaded();
    return FIBClientVersion;
}

int IGDSLibrary::FirebirdVersion()
{
    CheckIBLoaded();
    return FFirebirdVersion;
}

// --- Registry --------------------------------------------------------------

namespace {

struct TServerType {
    QString Name;
    TIBLibraryRef Library;
};

std::vector<TServerType> &Registry()
{
    // Filled once, before any component can look a type up.
    static std::vector<TServerType> registry{
        {QStringLiteral("IBServer"), std::make_shared<TIBServerLibrary>()},
    };
    return registry;
}

} // namespace

void RegisterServerType(const QString &Name, TIBLibraryRef Library)
{
    Registry().push_back({Name, std::move(Library)});
}

QStringList RegisteredServerTypes()
{
    QStringList names;
    for (const TServerType &t : Registry())
        names << t.Name;
    return names;
}

TIBLibraryRef LookupServerType(QString &Name)
{
    for (const TServerType &t : Registry()) {
        if (t.Name.compare(Name, Qt::CaseInsensitive) == 0) {
            Name = t.Name;
            return t.Library;
        }
    }
    RaiseClientError(ibxeInvalidLibraryType, {RegisteredServerTypes().join(QLatin1Char(' '))});
}

void AssignServerType(QString &Type, TIBLibraryRef &Library, const QString &Value)
{
    if (Value.isEmpty()) {
        Library.reset();
        Type.clear();
        return;
    }
    if (Value == Type)
        return;
    QString name = Value;
    TIBLibraryRef library = LookupServerType(name);
    library->CheckIBLoaded();
    Library = std::move(library);
    Type = name;
}

IGDSLibrary &HeldLibrary(QString &Type, TIBLibraryRef &Library)
{
    if (!Library) {
        QString name = Type.isEmpty() ? QStringLiteral("IBServer") : Type;
        TIBLibraryRef library = LookupServerType(name);
        library->CheckIBLoaded();
        Library = std::move(library);
        Type = name;
    }
    return *Library;
}

QString StatusErrorText(IGDSLibrary &Library)
{
    QString text;
    QByteArray buffer(20480, '\0');
    ISC_STATUS *cursor = ThreadStatusVector();
    while (Library.isc_interprete(buffer.data(), &cursor) > 0) {
        if (!text.isEmpty() && !text.endsWith(QLatin1Char('\n')))
            text += QStringLiteral("\r\n");
        text += QString::fromLocal8Bit(buffer.constData(), qstrnlen(buffer.constData(), size_t(buffer.size())));
    }
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text;
}

namespace {

template <class E>
E FromStatus(IGDSLibrary &Library)
{
    const ISC_STATUS *status = ThreadStatusVector();
    const int32_t errorCode = int32_t(status[1]);
    const int32_t sqlCode = Library.isc_sqlcode(status);
    E e(sqlCode, errorCode, StatusErrorText(Library));
    e.SetErrorCodes(StatusErrorCodes(status));
    return e;
}

} // namespace

EIBInterBaseError StatusError(IGDSLibrary &Library)
{
    return FromStatus<EIBInterBaseError>(Library);
}

void RaiseStatusError(IGDSLibrary &Library)
{
    if (Library.isc_sqlcode(ThreadStatusVector()) == -551)
        throw FromStatus<EIBInterBaseRoleError>(Library);
    throw StatusError(Library);
}
