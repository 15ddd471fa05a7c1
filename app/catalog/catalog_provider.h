#pragma once

#include <QString>

#include <qcoro/qcorotask.h>

#include <vector>

#include "catalog/relay.h"

namespace orlune {

// A named source of relays.
class VPNProvider {
public:
    virtual ~VPNProvider() = default;
    // The catalog's display name.
    virtual QString name() const = 0;
};

// Something that can list the relays it currently offers.
class ServerCatalogProvider {
public:
    virtual ~ServerCatalogProvider() = default;
    // The current relays in recommended order. Throws when the catalog cannot be read; the
    // caller keeps what it had.
    virtual QCoro::Task<std::vector<Relay>> fetch() = 0;
};

}  // namespace orlune
