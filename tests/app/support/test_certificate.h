#pragma once

#include <QByteArray>
#include <QSslCertificate>
#include <QSslKey>

namespace orlune::test {

// A self-signed certificate for 127.0.0.1 made at test time (never stored), usable both as
// the server's certificate and as the client's trusted CA.
struct TestCertificate {
    QSslCertificate certificate;
    QSslKey key;
    QByteArray certificatePem;

    // The same certificate for the whole test run: generating one takes a few milliseconds.
    static const TestCertificate& shared();
    static TestCertificate generate();
};

}  // namespace orlune::test
