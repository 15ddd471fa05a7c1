#pragma once

#include <QDateTime>
#include <QString>

#include <qcoro/qcorotask.h>

#include <exception>
#include <optional>
#include <stdexcept>
#include <vector>

#include "core/relay.h"

namespace orlune {

// A named source of relays.
class VPNProvider {
public:
    virtual ~VPNProvider() = default;
    // The catalog's display name.
    virtual QString name() const = 0;
};

// The relays of one catalog and where they came from.
struct CatalogFetch {
    std::vector<Relay> relays;
    // Set when the relays are the kept last good catalog rather than a live answer: its date.
    std::optional<QDateTime> keptFrom;
    // Why no live source gave a list (set with keptFrom after a failed download).
    QString liveFailure;
    // A kept catalog that exists but was ignored, and why.
    QString keptProblem;
    // Set when neither a live source nor the kept catalog gave a list: the live failure.
    std::exception_ptr liveError;
};

// A file offered as a catalog that is not one; the sentence says why. Nothing was kept.
class CatalogImportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Something that can list the relays it currently offers.
class ServerCatalogProvider {
public:
    virtual ~ServerCatalogProvider() = default;
    // The current relays in recommended order. Throws when the catalog cannot be read; the
    // caller keeps what it had.
    virtual QCoro::Task<std::vector<Relay>> fetch() = 0;
    // The same, falling back to the kept last good catalog when no live source answers with a
    // list; when there is neither, liveError holds the live failure. May also throw it.
    virtual QCoro::Task<CatalogFetch> fetchWithFallback() {
        CatalogFetch fetched;
        fetched.relays = co_await fetch();
        co_return fetched;
    }
    // Reads a catalog the user saved, as strictly as a download, and keeps it as the last good
    // catalog, dated by the file. Throws CatalogImportError; nothing changes then.
    virtual CatalogFetch importCatalog(const QString& path) {
        throw CatalogImportError("This catalog cannot import " + path.toStdString() + ".");
    }
};

}  // namespace orlune
