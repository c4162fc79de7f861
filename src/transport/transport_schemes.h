// The forms of the transport step behind model/transport_scheme.h, and the
// choice of the model's form.
#pragma once

#include "model/transport_scheme.h"

#include <memory>

class CSimulation;

// The form the model's settings choose ([transport] scheme and time).
std::unique_ptr<CTransportScheme> MakeTransportScheme(const CSimulation& s);

// The model's form, owned here and lent to the model (CSimulation::m_transport)
// while this lives: a time loop, the model check or a test makes one.
class CTransportChoice {
public:
    explicit CTransportChoice(CSimulation& s);
    ~CTransportChoice();
    CTransportChoice(const CTransportChoice&) = delete;
    CTransportChoice& operator=(const CTransportChoice&) = delete;

    const CTransportScheme& Scheme() const { return *m_scheme; }

private:
    CSimulation& m_sim;
    std::unique_ptr<CTransportScheme> m_scheme;
    CTransportScheme* m_lent; // what the model held before
};
