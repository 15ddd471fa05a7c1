#include "support/test_certificate.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <stdexcept>

namespace orlune::test {
namespace {

template <class T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using ExtPtr = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION, X509_EXTENSION_free>>;

void check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("test certificate: ") + what);
}

void addExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
    ExtPtr extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
    check(extension != nullptr, "extension");
    check(X509_add_ext(cert, extension.get(), -1) == 1, "add extension");
}

template <class Write>
QByteArray pem(Write write) {
    std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>> bio(BIO_new(BIO_s_mem()));
    check(write(bio.get()) == 1, "PEM");
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, static_cast<qsizetype>(size));
}

}  // namespace

TestCertificate TestCertificate::generate() {
    KeyPtr key(EVP_EC_gen("P-256"));
    check(key != nullptr, "key");
    CertPtr cert(X509_new());
    check(X509_set_version(cert.get(), 2) == 1, "version");
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 7 * 24 * 3600);
    check(X509_set_pubkey(cert.get(), key.get()) == 1, "public key");
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1,
                               0);
    check(X509_set_issuer_name(cert.get(), name) == 1, "issuer");
    addExtension(cert.get(), NID_basic_constraints, "critical,CA:TRUE");
    addExtension(cert.get(), NID_key_usage, "critical,digitalSignature,keyCertSign");
    addExtension(cert.get(), NID_subject_alt_name, "IP:127.0.0.1");
    check(X509_sign(cert.get(), key.get(), EVP_sha256()) > 0, "sign");

    TestCertificate result;
    result.certificatePem = pem([&](BIO* bio) { return PEM_write_bio_X509(bio, cert.get()); });
    const QByteArray keyPem =
        pem([&](BIO* bio) { return PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr, nullptr); });
    result.certificate = QSslCertificate(result.certificatePem, QSsl::Pem);
    result.key = QSslKey(keyPem, QSsl::Ec, QSsl::Pem);
    check(!result.certificate.isNull() && !result.key.isNull(), "Qt import");
    return result;
}

const TestCertificate& TestCertificate::shared() {
    static const TestCertificate certificate = generate();
    return certificate;
}

}  // namespace orlune::test
