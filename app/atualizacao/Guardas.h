#pragma once

// Guards the workflow's steps share: a service detached and the hourglass
// shown, each for as long as the guard lives.

#include "Atualizacao.h"
#include "Exceptions.h"
#include "IBServices.h"

// Detaches a service when it goes out of scope, whatever happened.
struct TDesligar {
    TIBCustomService &Servico;
    ~TDesligar()
    {
        IgnoringErrors([this] {
            if (Servico.Active())
                Servico.SetActive(false);
        });
    }
};

// The hourglass for as long as it lives.
class TEspera {
public:
    explicit TEspera(TSaidaAtualizacao &Saida) : FSaida(Saida) { FSaida.Ocupado(true); }
    ~TEspera() { FSaida.Ocupado(false); }
    TEspera(const TEspera &) = delete;
    TEspera &operator=(const TEspera &) = delete;

private:
    TSaidaAtualizacao &FSaida;
};

// Whether E is the server's error Codigo.
inline bool Codigo(const std::exception &E, ISC_STATUS Codigo)
{
    const auto *e = dynamic_cast<const EIBError *>(&E);
    return e && e->IBErrorCode() == Codigo;
}
