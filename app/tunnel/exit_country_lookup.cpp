#include "tunnel/exit_country_lookup.h"

#include <QRegularExpression>

#include "catalog/catalog_parsing.h"
#include "core/tunnel_error.h"
#include "network/endpoints.h"
#include "network/http.h"

namespace orlune::ExitCountryLookup {

QCoro::Task<QString> countryCode(QString address) {
    const std::optional<QUrl> url = Endpoints::current().exitCountryUrl(address);
    if (!url) throw TunnelError(TunnelError::Kind::exitCountryUnavailable);
    // Its own manager, gone on every path: nothing learnt before the tunnel is reused.
    const std::unique_ptr<QNetworkAccessManager> access = freshNetworkAccess();
    QNetworkRequest request = makeRequest(*url, NetworkTimeouts::current().exitCountry, CacheUse::ignoreLocal);
    const HttpAnswer answer = co_await get(*access, std::move(request));
    if (answer.status != 200) throw TunnelError(TunnelError::Kind::exitCountryUnavailable);
    const std::optional<QString> text = decodeUtf8(answer.body);
    static const QRegularExpression kTwoLetters(QStringLiteral("^[A-Za-z]{2}$"));
    const QString code = text ? text->trimmed() : QString();
    if (!kTwoLetters.match(code).hasMatch()) throw TunnelError(TunnelError::Kind::exitCountryUnavailable);
    co_return code.toUpper();
}

}  // namespace orlune::ExitCountryLookup
